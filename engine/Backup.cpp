// Where the backup copies live, how a pass opens its input and output, and how a run from
// backup is undone or its copies discarded.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/VtsCleaner.h"
#include "ifo/IfoFile.h"
#include "support/DiskFlush.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/WholeFile.h"

namespace dorvex {

namespace {

constexpr const char* kBackupFolderName = "DorvexBackup";

// A copy, or what is left of one an interrupted write was making: the only names Restore and
// Delete Backup touch in the folder.
bool IsBackupFileName(const std::string& name) {
    const std::string partial = PartialPathFor("");
    if (name.size() > partial.size() &&
        name.compare(name.size() - partial.size(), partial.size(), partial) == 0) {
        return IsDvdFileName(name.substr(0, name.size() - partial.size()));
    }
    return IsDvdFileName(name);
}

}  // namespace

std::string CVtsCleaner::BackupFolder() {
    return BackupFolderOf(VobPathSnapshot());
}

std::string CVtsCleaner::BackupFolderOf(const std::string& path) {
    std::string folder = GetFolder(path);
    if (m_BackupAbove) {
        // Searching from the third character before the end skips the folder's own trailing
        // separator; stopping at index 2 keeps a drive root such as D:\ as it is.
        for (int64_t i = static_cast<int64_t>(folder.size()) - 3; i >= 2; --i) {
            if (IsPathSeparator(folder[static_cast<size_t>(i)])) {
                folder.resize(static_cast<size_t>(i) + 1);
                break;
            }
        }
    }
    return Concat3(folder, kBackupFolderName, std::string(1, kPathSeparator));
}

std::string CVtsCleaner::GetBackupPath(const std::string& path) {
    // A copy made from a file spelled in another case is still that file's copy.
    return ResolveCase(m_Files, BackupFolderOf(path) + GetFileName(path));
}

std::string CVtsCleaner::UnsafeBackupFolderMessage() {
    return StripSeparator(BackupFolder()) +
           " is not a folder of its own (it is a link or a file): Dorvex keeps its backup only "
           "in a real folder beside the disc. Nothing was changed; move it away and run again.";
}

bool CVtsCleaner::BackupFolderReady() {
    const std::string folder = StripSeparator(BackupFolder());
    switch (m_Files.KindOf(folder)) {
        case FileKind::Folder:
            return true;
        case FileKind::Missing:
            break;
        default:
            Alert(UnsafeBackupFolderMessage().c_str());
            return false;
    }
    if (m_Files.MakeFolder(folder) == 0) {
        return true;
    }
    Alertf("Couldn't create backup folder %s: %s", BackupFolder().c_str(), strerror(errno));
    return false;
}

void CVtsCleaner::RestoreFile(const std::string& path) {
    // A whole-file write cut short (a kill, a crash) leaves its temporary file behind; the
    // target itself was never touched, so the leftover is only clutter.
    const std::string partial = PartialPathFor(path);
    if (m_Files.IsRegularFile(partial)) {
        m_Files.Remove(partial);
    }
    const std::string backup = GetBackupPath(path);
    if (m_Files.IsRegularFile(PartialPathFor(backup))) {
        m_Files.Remove(PartialPathFor(backup));  // a copy that was never finished
    }
    if (!m_Files.IsRegularFile(backup)) {
        return;
    }
    // rename() replaces an existing file atomically, so the file is never absent meanwhile. A
    // file that is gone comes back under the name its copy keeps (its own case).
    const std::string target = m_Files.Exists(path) ? path : GetFolder(path) + GetFileName(backup);
    m_Files.Rename(backup, target);
}

bool CVtsCleaner::BackupHoldsOtherSets(int32_t titleSet) {
    for (const std::string& name : m_Files.ListFiles(BackupFolder())) {
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

void CVtsCleaner::RestoreVideoManagerIfo(int32_t restoredSet) {
    const TitleSetFiles files = SetFiles();
    const std::string vmgPath = files.VideoManagerIfo();
    if (!BackupHoldsOtherSets(restoredSet)) {
        // The last set to go back: the copy is the state before the first run, byte for byte.
        RestoreFile(vmgPath);
        RestoreFile(files.VideoManagerBup());
        return;
    }
    // Other title sets stay cleaned, so the copy stays for them, and the IFO on disk takes the
    // title-set sectors of the files as they are now, as a run's last step gives them. Undoing
    // the video manager's own menu starts from its copy's tables.
    const std::string copy = GetBackupPath(vmgPath);
    const bool fromCopy = restoredSet == kVideoManager && m_Files.IsRegularFile(copy);
    if (!fromCopy && !m_Files.IsRegularFile(vmgPath)) {
        return;
    }
    CIfoFile vmg(fromCopy ? copy : vmgPath, m_Files);
    if (!vmg.m_bLoaded) {
        return;
    }
    vmg.m_szPath = vmgPath;
    vmg.UpdateSizeFields(true);
    SaveIfoCopy(vmg, vmgPath, Durability::Flushed);
}

void CVtsCleaner::RestoreBackup() {
    if (!m_Menu) {
        SetVobPathDigit('1');
    }
    if (RefusesForInterruptedRun(false)) {
        return;
    }
    switch (m_Files.KindOf(StripSeparator(BackupFolder()))) {
        case FileKind::Folder:
            break;
        case FileKind::Missing:
            Logf("Backup files restored");
            return;
        default:
            Alert(UnsafeBackupFolderMessage().c_str());
            return;
    }
    const TitleSetFiles files = SetFiles();
    const int32_t titleSet = std::max(0, TitleSetOf(VobPathSnapshot()));
    // The VOBs first: the video manager's title-set sectors are taken from them.
    if (m_Menu) {
        RestoreFile(VobPathSnapshot());
    } else {
        RestoreTitleVobs();
    }
    if (titleSet != kVideoManager) {
        RestoreFile(files.Ifo());
        RestoreFile(files.Bup());
    }
    RestoreVideoManagerIfo(titleSet);
    Logf("Backup files restored");
}

void CVtsCleaner::RestoreTitleVobs() {
    // After a complete pass from backup the tidy step may have renamed outputs down to close
    // gaps (VTS_01_3 became VTS_01_2). Such a file has no copy of its own, and the file it was
    // renamed from is gone while its copy waits in the backup folder. A file without a copy
    // that is not such a rename target is an untouched original and stays.
    std::vector<std::string> set;
    std::vector<bool> hadCopy;
    std::vector<bool> present;
    for (std::string path = VobPathSnapshot();;) {
        set.push_back(path);
        hadCopy.push_back(m_Files.IsRegularFile(GetBackupPath(path)));
        present.push_back(m_Files.Exists(path));
        if (!NextVobFile(path, false)) {
            break;
        }
    }
    for (size_t i = 0; i < set.size(); ++i) {
        SetVobPath(set[i]);
        if (hadCopy[i]) {
            RestoreFile(set[i]);
            continue;
        }
        bool renamedHere = false;
        for (size_t j = i + 1; j < set.size(); ++j) {
            renamedHere = renamedHere || (hadCopy[j] && !present[j]);
        }
        if (present[i] && renamedHere) {
            m_Files.Remove(set[i]);
        }
    }
}

void CVtsCleaner::DeleteBackup() {
    // The backup may hold the only sound copy of a title set that run was moving.
    if (RefusesForInterruptedRun(true)) {
        return;
    }
    const std::string folder = BackupFolder();
    switch (m_Files.KindOf(StripSeparator(folder))) {
        case FileKind::Folder:
            break;
        case FileKind::Missing:
            return;  // nothing to delete, and nothing is made to be deleted
        default:
            Alert(UnsafeBackupFolderMessage().c_str());
            return;
    }
    // From now on the title set's files are the only copy: what a run left to the kernel's
    // write-back has to be on disk before the originals go.
    std::string error;
    if (!m_Files.FlushFolder(folder, error)) {
        Alertf("Couldn't flush %s to disk: %s. The backup was kept.", folder.c_str(),
               error.c_str());
        return;
    }
    // Only the copies this program makes: whatever else someone put there stays, and with it
    // the folder.
    for (const std::string& name : m_Files.ListFiles(folder)) {
        if (IsBackupFileName(name)) {
            m_Files.Remove(folder + name);
        }
    }
    m_Files.Remove(StripSeparator(folder));
}

int32_t CVtsCleaner::OpenInput(bool fromBackup) {
    std::string vob = VobPathSnapshot();
    m_In = nullptr;
    if (fromBackup) {
        std::string backup = GetBackupPath(vob);
        // A copy is never replaced: the one there is the only copy of an earlier original.
        if (m_Files.KindOf(backup) != FileKind::Missing) {
            Alertf("Couldn't backup %s: %s is already there", vob.c_str(), backup.c_str());
            return 1;
        }
        if (m_Files.Rename(vob, backup) != 0) {
            Alertf("Couldn't backup %s", vob.c_str());
            return 1;
        }
        m_CopiesThisRun.insert(backup);
        m_FileSectors = m_Files.SizeKB(backup) / 2;
        if (!m_InFile.Open(backup, OpenMode::Read)) {
            Alertf("Couldn't open %s for read/write", backup.c_str());
            return 1;
        }
        m_In = &m_InFile;
        return 0;
    }

    if (m_WaitForFile) {
        bool announced = false;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (m_InFile.Open(vob, OpenMode::Update)) {
                break;
            }
            // A read-only file system, or a folder in the file's place, never lets it open for
            // writing however long the run waits.
            if (errno == EROFS || errno == EISDIR) {
                Alertf("Couldn't open %s for read/write: %s. Waiting cannot help.", vob.c_str(),
                       m_InFile.LastError().c_str());
                m_Failed = 1;
                break;
            }
            if (!announced) {
                Logf("Waiting for file %s to be ready for processing", GetBaseName(vob).c_str());
                announced = true;
            }
            if (m_Abort.load() == 1) {
                break;
            }
        }
        Logf("File %s now ready for processing", GetBaseName(vob).c_str());
    } else if (!m_InFile.Open(vob, OpenMode::Update)) {
        Alertf("Couldn't open %s for read/write", vob.c_str());
    }
    m_FileSectors = m_Files.SizeKB(vob) / 2;
    if (!m_InFile.IsOpen()) {
        return 1;
    }
    m_In = &m_InFile;
    return 0;
}

int32_t CVtsCleaner::OpenOutput() {
    std::string vob = VobPathSnapshot();
    m_Out = nullptr;
    // The original has just gone to the backup folder: whatever appears under its name
    // meanwhile (a link planted there) is not written through.
    if (!m_OutFile.Open(vob, OpenMode::CreateNew)) {
        Alertf("Couldn't open %s for writing", vob.c_str());
        return 1;
    }
    m_Out = &m_OutFile;
    return 0;
}

bool CVtsCleaner::SaveIfoCopy(CIfoFile& ifo, const std::string& target, Durability durability) {
    if (ifo.Save(target, durability) != 0) {
        Alertf("Couldn't write %s: %s", ifo.SaveFailedPath().c_str(), ifo.SaveError().c_str());
        m_Failed = 1;
        return false;
    }
    return true;
}

bool CVtsCleaner::BackUpIfoOnce(CIfoFile& ifo, const std::string& path) {
    const std::string target = GetBackupPath(path);
    if (m_CopiesThisRun.count(target) != 0) {
        return true;  // an earlier step of this run already kept the state before the run
    }
    if (m_Files.KindOf(target) != FileKind::Missing) {
        // The video manager's copy is the state before the first run that made the folder;
        // any other copy is an earlier run's, which the run's checks have refused.
        if (IsVideoManagerName(path)) {
            return true;
        }
        Alertf("Couldn't backup %s: %s is already there", path.c_str(), target.c_str());
        m_Failed = 1;
        return false;
    }
    if (!BackupFolderReady()) {
        m_Failed = 1;
        return false;
    }
    // The copy is what an undo falls back to, even after a power cut.
    if (!SaveIfoCopy(ifo, target, Durability::Flushed)) {
        return false;
    }
    m_CopiesThisRun.insert(target);
    m_CopiesThisRun.insert(BupOfIfo(m_Files, target));
    return true;
}

std::unique_ptr<CIfoFile> CVtsCleaner::LoadIfo() {
    const TitleSetFiles files = SetFiles();
    const std::string ifoPath = files.Ifo();
    auto ifo = std::make_unique<CIfoFile>(ifoPath, m_Files);
    if (m_InPlace) {
        return ifo;
    }
    if (ifo->m_bLoaded && !BackUpIfoOnce(*ifo, ifoPath)) {
        return ifo;
    }
    // The video manager's IFO is changed by the repair's last step. Its copy is taken at the
    // start of the first run from backup that will change it and kept while the folder exists.
    const std::string vmgPath = files.VideoManagerIfo();
    if (!files.IsVideoManager() && m_Files.Exists(vmgPath)) {
        CIfoFile vmg(vmgPath, m_Files);
        if (vmg.m_bLoaded) {
            BackUpIfoOnce(vmg, vmgPath);
        }
    }
    return ifo;
}

}  // namespace dorvex
