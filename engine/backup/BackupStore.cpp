#include "engine/backup/BackupStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/backup/BackupManifest.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"
#include "support/WholeFile.h"

namespace dorvex {

namespace {

constexpr const char* kBackupFolderName = "DorvexBackup";

}  // namespace

bool IsBackupFileName(const std::string& name) {
    const std::string partial = PartialPathFor("");
    std::string whole = name;
    if (name.size() > partial.size() &&
        name.compare(name.size() - partial.size(), partial.size(), partial) == 0) {
        whole = name.substr(0, name.size() - partial.size());
    }
    return IsDvdFileName(whole) || whole == BackupManifest::kFileName;
}

BackupStore::BackupStore(FileSystem& files, const std::string& discFile, bool above)
    : m_Files(files) {
    std::string folder = GetFolder(discFile);
    if (above) {
        // Searching from the third character before the end skips the folder's own trailing
        // separator; stopping at index 2 keeps a drive root such as D:\ as it is.
        for (int64_t i = static_cast<int64_t>(folder.size()) - 3; i >= 2; --i) {
            if (IsPathSeparator(folder[static_cast<size_t>(i)])) {
                folder.resize(static_cast<size_t>(i) + 1);
                break;
            }
        }
    }
    m_Path = Concat3(folder, kBackupFolderName, std::string(1, kPathSeparator));
}

std::string BackupStore::Folder() const {
    return StripSeparator(m_Path);
}

std::string BackupStore::CopyOf(const std::string& path) const {
    return ResolveCase(m_Files, m_Path + GetFileName(path));
}

std::string BackupStore::ManifestPath() const {
    return m_Path + std::string(BackupManifest::kFileName);
}

bool BackupStore::IsUsable() const {
    const FileKind kind = m_Files.KindOf(Folder());
    return kind == FileKind::Missing || kind == FileKind::Folder;
}

std::string BackupStore::UnsafeMessage() const {
    return Folder() +
           " is not a folder of its own (it is a link or a file): Dorvex keeps its backup only "
           "in a real folder beside the disc. Nothing was changed; move it away and run again.";
}

bool BackupStore::MakeReady() const {
    switch (m_Files.KindOf(Folder())) {
        case FileKind::Folder:
            return true;
        case FileKind::Missing:
            break;
        default:
            Alert(UnsafeMessage().c_str());
            return false;
    }
    if (m_Files.MakeFolder(Folder()) == 0) {
        return true;
    }
    Alertf("Couldn't create backup folder %s: %s", m_Path.c_str(), strerror(errno));
    return false;
}

std::vector<std::string> BackupStore::Copies() const {
    std::vector<std::string> copies;
    if (m_Files.KindOf(Folder()) != FileKind::Folder) {
        return copies;
    }
    for (const std::string& name : m_Files.ListFiles(m_Path)) {
        if (IsBackupFileName(name)) {
            copies.push_back(name);
        }
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

bool HoldsOtherSets(const std::vector<std::string>& names, int32_t titleSet) {
    for (const std::string& name : names) {
        const int32_t owner = TitleSetOf(name);
        if (!IsDvdFileName(name) || owner == titleSet) {
            continue;
        }
        // The video manager's IFO is everybody's; its menu VOB is a set of its own.
        if (owner != kVideoManager || EqualsIgnoreCase(GetFileExt(name), ".VOB")) {
            return true;
        }
    }
    return false;
}

bool BackupStore::DeleteCopies() const {
    // From now on the title set's files are the only copy: what a run left to the kernel's
    // write-back has to be on disk before the originals go.
    std::string error;
    if (!m_Files.FlushFolder(m_Path, error)) {
        Alertf("Couldn't flush %s to disk: %s. The backup was kept.", m_Path.c_str(),
               error.c_str());
        return false;
    }
    // Only the copies this program makes: whatever else someone put there stays, and with it
    // the folder. The record goes last, so that copies left by an interrupted delete are still
    // known.
    std::vector<std::string> names;
    for (const std::string& name : m_Files.ListFiles(m_Path)) {
        if (IsBackupFileName(name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    std::stable_partition(names.begin(), names.end(), [](const std::string& name) {
        return name.rfind(BackupManifest::kFileName, 0) != 0;
    });
    std::string kept;
    for (const std::string& name : names) {
        if (m_Files.Remove(m_Path + name) == 0) {
            Logf("Deleted %s", (m_Path + name).c_str());
        } else {
            kept += (kept.empty() ? "" : ", ") + name + " (" + strerror(errno) + ")";
        }
    }
    if (!kept.empty()) {
        Alert(("Couldn't delete all of the backup in " + Folder() + ": " + kept +
               " are still there. Make the folder and its files writable, then delete the "
               "backup again.")
                  .c_str());
        return false;
    }
    m_Files.Remove(Folder());  // only when nothing is left in it
    return true;
}

}  // namespace dorvex
