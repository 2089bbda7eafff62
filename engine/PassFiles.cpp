// How a pass opens its input and output (from backup, the input first moves into the backup
// folder: backup/BackupRun.h), how it loads and saves the IFOs.
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

int32_t CVtsCleaner::OpenInput(bool fromBackup) {
    std::string vob = VobPathSnapshot();
    m_In = nullptr;
    if (fromBackup) {
        std::string backup;
        if (!m_BackupRun.MoveIn(Backup(), vob, backup)) {
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
    // In place the run flushes the file before it ends: the disk may as well take each write now.
    m_InFile.HandWritesToDiskAtOnce();
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
    // Not handed to the disk as it is written: nothing here flushes the new file, and starting
    // its write-back during the pass made a 4 GiB run 2.6 times cp in the page cache (the hints
    // from a thread of their own), and no faster until on disk.
    m_Out = &m_OutFile;
    return 0;
}

bool CVtsCleaner::SaveIfoCopy(CIfoFile& ifo, const std::string& target, Durability durability) {
    // From backup an interrupted run's IFO is either the original or this repair: the record
    // says which bytes it may hold before they are there.
    if (!m_InPlace && !m_BackupRun.WillRepair(Backup(), target, ifo.Data(),
                                              static_cast<size_t>(ifo.ImageSize()))) {
        return false;
    }
    if (ifo.Save(target, durability) != 0) {
        Alertf("Couldn't write %s: %s", ifo.SaveFailedPath().c_str(), ifo.SaveError().c_str());
        m_Failed = 1;
        return false;
    }
    return true;
}

std::unique_ptr<CIfoFile> CVtsCleaner::LoadIfo() {
    auto ifo = std::make_unique<CIfoFile>(SetFiles().Ifo(), m_Files);
    // A step without a pass (an IFO-only update) begins here; a pass has begun already.
    if (!m_InPlace && ifo->m_bLoaded) {
        BeginBackup(false);
    }
    return ifo;
}

}  // namespace dorvex
