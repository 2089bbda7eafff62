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

}  // namespace

std::string CVtsCleaner::GetBackupPath(const std::string& path) {
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
    std::string backupFolder = Concat(folder, kBackupFolderName);
    if (!m_Files.Exists(backupFolder)) {
        m_Files.MakeFolder(backupFolder);
    }
    return Concat3(backupFolder, std::string(1, kPathSeparator), GetFileName(path));
}

bool CVtsCleaner::BackupFolderReady() {
    const std::string folder = GetFolder(GetBackupPath(VobPathSnapshot()));
    if (m_Files.IsFolder(folder)) {
        return true;
    }
    // Ask again for the reason: GetBackupPath has no way to report it.
    const int reason = m_Files.MakeFolder(folder) == 0 ? 0 : errno;
    if (reason == 0) {
        return true;
    }
    Alertf("Couldn't create backup folder %s: %s", folder.c_str(), strerror(reason));
    return false;
}

void CVtsCleaner::RestoreFile(const std::string& path) {
    // A whole-file write cut short (a kill, a crash) leaves its temporary file behind; the
    // target itself was never touched, so the leftover is only clutter.
    m_Files.Remove(PartialPathFor(path));
    std::string backup = GetBackupPath(path);
    if (!m_Files.Exists(backup)) {
        return;
    }
    // rename() replaces an existing file atomically, so the file is never absent meanwhile.
    m_Files.Rename(backup, path);
}

void CVtsCleaner::RestoreBackup() {
    if (!m_Menu) {
        SetVobPathDigit('1');
    }
    std::string vob = VobPathSnapshot();
    const TitleSetFiles files = SetFiles();
    RestoreFile(files.Ifo());
    RestoreFile(files.Bup());
    RestoreFile(files.VideoManagerIfo());
    RestoreFile(files.VideoManagerBup());
    if (m_Menu) {
        RestoreFile(vob);
        Logf("Backup files restored");
        return;
    }
    // After a complete pass from backup the tidy step may have renamed outputs down to close
    // gaps (VTS_01_3 became VTS_01_2). Such a file has no copy of its own, and the file it was
    // renamed from is gone while its copy waits in the backup folder. A file without a copy
    // that is not such a rename target is an untouched original and stays.
    std::vector<std::string> set;
    std::vector<bool> hadCopy;
    std::vector<bool> present;
    for (std::string path = vob;;) {
        set.push_back(path);
        hadCopy.push_back(m_Files.Exists(GetBackupPath(path)));
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
    Logf("Backup files restored");
}

void CVtsCleaner::DeleteBackup() {
    std::string folder = GetFolder(GetBackupPath(VobPathSnapshot()));
    // From now on the title set's files are the only copy: what a run left to the kernel's
    // write-back has to be on disk before the originals go.
    std::string error;
    if (!m_Files.FlushFolder(folder, error)) {
        Alertf("Couldn't flush %s to disk: %s. The backup was kept.", folder.c_str(),
               error.c_str());
        return;
    }
    for (const std::string& name : m_Files.ListFiles(folder)) {
        m_Files.Remove(JoinPath(folder, name));
    }
    m_Files.Remove(folder);
}

int32_t CVtsCleaner::OpenInput(bool fromBackup) {
    std::string vob = VobPathSnapshot();
    m_In = nullptr;
    if (fromBackup) {
        std::string backup = GetBackupPath(vob);
        if (m_Files.Exists(backup)) {
            m_Files.Remove(backup);
        }
        if (m_Files.Rename(vob, backup) != 0) {
            Alertf("Couldn't backup %s", vob.c_str());
            return 1;
        }
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
    if (!m_OutFile.Open(vob, OpenMode::Create)) {
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
    if (m_IfoCopiesThisRun.count(target) != 0) {
        return true;  // an earlier step of this run already kept the state before the run
    }
    // The copy is what an undo falls back to, even after a power cut.
    if (!SaveIfoCopy(ifo, target, Durability::Flushed)) {
        return false;
    }
    m_IfoCopiesThisRun.insert(target);
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
    // The video manager's IFO is changed by the repair's last step. Its copy is taken here, at
    // the start of the run that will change it, so that undoing an interrupted run brings back
    // the state this run began from, not a copy left by an earlier, completed run.
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
