// How a pass opens its input and output (from backup, the input first moves into the backup
// folder), the backup copies of the IFOs, and the engine's Restore and Delete Backup.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/VtsCleaner.h"
#include "engine/backup/BackupRestore.h"
#include "ifo/IfoFile.h"
#include "support/DiskFlush.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/WholeFile.h"

namespace dorvex {

void CVtsCleaner::RestoreBackup() {
    if (!m_Menu) {
        SetVobPathDigit('1');
    }
    if (RefusesForInterruptedRun(false)) {
        return;
    }
    const BackupStore backup = Backup();
    switch (m_Files.KindOf(backup.Folder())) {
        case FileKind::Folder:
            break;
        case FileKind::Missing:
            Logf("Backup files restored");
            return;
        default:
            Alert(backup.UnsafeMessage().c_str());
            return;
    }
    if (!BackupRestore(m_Files, backup, VobPathSnapshot(), m_Menu != 0).Run()) {
        m_Failed = 1;
    }
}

void CVtsCleaner::DeleteBackup() {
    // The backup may hold the only sound copy of a title set that run was moving.
    if (RefusesForInterruptedRun(true)) {
        return;
    }
    const BackupStore backup = Backup();
    switch (m_Files.KindOf(backup.Folder())) {
        case FileKind::Folder:
            backup.DeleteCopies();
            return;
        case FileKind::Missing:
            return;  // nothing to delete, and nothing is made to be deleted
        default:
            Alert(backup.UnsafeMessage().c_str());
            return;
    }
}

int32_t CVtsCleaner::OpenInput(bool fromBackup) {
    std::string vob = VobPathSnapshot();
    m_In = nullptr;
    if (fromBackup) {
        const BackupStore store = Backup();
        std::string backup = store.CopyOf(vob);
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
    if (!Backup().MakeReady()) {
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
