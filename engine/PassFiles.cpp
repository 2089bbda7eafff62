// How a pass opens its input and output (from backup, the input first moves into the backup
// folder), the backup copies of the IFOs, and the engine's Restore and Delete Backup.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/VtsCleaner.h"
#include "engine/backup/BackupRecorder.h"
#include "engine/backup/BackupRestore.h"
#include "ifo/IfoFile.h"
#include "support/DiskFlush.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/WholeFile.h"

namespace dorvex {

namespace {

// How the messages name what a restore undoes.
std::string DomainsName(const std::vector<RestoreDomain>& domains) {
    if (domains.size() != 1) {
        return "the DVD";
    }
    return TitleSetName(std::max(0, TitleSetOf(domains.front().vobPath)));
}

}  // namespace

void CVtsCleaner::RestoreBackup() {
    if (!m_Menu) {
        SetVobPathDigit('1');
    }
    RestoreDomains({{VobPathSnapshot(), m_Menu != 0}}, false);
}

bool CVtsCleaner::RestoreDomains(const std::vector<RestoreDomain>& domains, bool force) {
    m_BackupLeft = 1;
    if (RefusesForInterruptedRun(domains.size() > 1)) {
        return false;
    }
    const BackupStore backup = Backup();
    switch (m_Files.KindOf(backup.Folder())) {
        case FileKind::Folder:
            break;
        case FileKind::Missing:
            Logf("Nothing to restore: there is no %s", backup.Folder().c_str());
            m_BackupLeft = 0;
            return true;
        default:
            Alert(backup.UnsafeMessage().c_str());
            return false;
    }
    // The undo of this engine's own run that did not finish takes the copies it made as they
    // are: another program may have cut one, and it is still the best there is.
    BackupRestore restore(m_Files, backup, domains, m_CopiesThisRun);
    if (restore.Empty()) {
        Logf("Nothing to restore: %s holds no copy of %s", backup.Folder().c_str(),
             DomainsName(domains).c_str());
        m_BackupLeft = 0;
        return true;
    }
    const RestoreCheck check = restore.Check();
    if (check.Refused()) {
        if (!force || check.refusal != RestoreRefusal::Unverified) {
            Alert(check.message.c_str());
            m_Refused = 1;
            return false;
        }
        Logf("Restoring anyway, as asked. %s", check.message.c_str());
    }
    if (!restore.Run()) {
        m_Failed = 1;
        return false;
    }
    m_BackupLeft = 0;
    return true;
}

RestoreCheck CVtsCleaner::CheckRestore(const std::vector<RestoreDomain>& domains) {
    const BackupStore backup = Backup();
    switch (m_Files.KindOf(backup.Folder())) {
        case FileKind::Folder:
            break;
        case FileKind::Missing:
            return {};
        default:
            return {RestoreRefusal::Blocked, backup.UnsafeMessage()};
    }
    BackupRestore restore(m_Files, backup, domains, m_CopiesThisRun);
    return restore.Empty() ? RestoreCheck{} : restore.Check();
}

void CVtsCleaner::DeleteBackup() {
    m_BackupLeft = 1;
    // The backup may hold the only sound copy of a title set that run was moving.
    if (RefusesForInterruptedRun(true)) {
        return;
    }
    const BackupStore backup = Backup();
    switch (m_Files.KindOf(backup.Folder())) {
        case FileKind::Folder:
            m_BackupLeft = backup.DeleteCopies() ? 0 : 1;
            return;
        case FileKind::Missing:
            m_BackupLeft = 0;
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
    // From backup an interrupted run's IFO is either the original or this repair: the record
    // says which bytes it may hold before they are there.
    if (!m_InPlace) {
        BackupRecorder record(m_Files, Backup());
        const FileState repaired = StateOfBytes(ifo.Data(), static_cast<size_t>(ifo.ImageSize()));
        std::string error;
        bool recorded = record.Load(error);
        if (recorded) {
            record.MayBecome(target, repaired);
            record.MayBecome(BupOfIfo(m_Files, target), repaired);
            recorded = record.Save(Durability::Cached, error);
        }
        if (!recorded) {
            Alertf("Couldn't write %s: %s", Backup().ManifestPath().c_str(), error.c_str());
            m_Failed = 1;
            return false;
        }
    }
    if (ifo.Save(target, durability) != 0) {
        Alertf("Couldn't write %s: %s", ifo.SaveFailedPath().c_str(), ifo.SaveError().c_str());
        m_Failed = 1;
        return false;
    }
    return true;
}

std::vector<std::string> CVtsCleaner::StepVobs() {
    std::string path = VobPathSnapshot();
    std::vector<std::string> vobs;
    if (m_Files.KindOf(path) == FileKind::Missing) {
        return vobs;
    }
    vobs.push_back(path);
    while (NextVobFile(path, true)) {
        vobs.push_back(path);
    }
    return vobs;
}

bool CVtsCleaner::BeginBackup(bool movesVobs) {
    const BackupStore store = Backup();
    BackupRecorder record(m_Files, store);
    std::string error;
    const auto fail = [this](const std::string& path, const char* what, const std::string& why) {
        Alertf("Couldn't %s %s: %s", what, path.c_str(), why.c_str());
        m_Failed = 1;
        return false;
    };
    if (!store.MakeReady()) {
        m_Failed = 1;
        return false;
    }
    if (!record.Load(error)) {
        return fail(
            store.ManifestPath(), "read",
            error + ". Nothing was changed; move " + store.Folder() + " away and run again");
    }
    for (const std::string& vob : movesVobs ? StepVobs() : std::vector<std::string>()) {
        FileState now;
        if (!MeasureFile(m_Files, vob, now, error)) {
            return fail(vob, "read", error);
        }
        record.WillCopy(vob, now, now);
    }
    // The video manager's IFO is changed by the repair's last step. Its copy is taken by the
    // first run from backup that will change it and kept while the folder exists.
    const TitleSetFiles files = SetFiles();
    std::vector<std::string> ifos{files.Ifo()};
    if (!files.IsVideoManager() && m_Files.IsRegularFile(files.VideoManagerIfo())) {
        CapturedLines quiet(CapturedLines::Log);  // the repair reports a damaged one
        if (CIfoFile(files.VideoManagerIfo(), m_Files).m_bLoaded) {
            ifos.push_back(files.VideoManagerIfo());
        }
    }
    std::vector<std::pair<std::string, std::vector<uint8_t>>> copies;
    for (const std::string& ifo : ifos) {
        if (!BackUpIfoPair(ifo, record, copies)) {
            return false;
        }
    }
    // The record first: a copy is never in the backup without it.
    if (!record.Save(Durability::Flushed, error)) {
        return fail(store.ManifestPath(), "write", error);
    }
    for (const auto& [copy, bytes] : copies) {
        // The copy is what an undo falls back to, even after a power cut.
        if (!m_Files.WriteWhole(copy, bytes.data(), bytes.size(), error, Durability::Flushed)) {
            return fail(copy, "write", error);
        }
        m_CopiesThisRun.insert(copy);
    }
    return true;
}

bool CVtsCleaner::BackUpIfoPair(const std::string& ifoPath, BackupRecorder& record,
                                std::vector<std::pair<std::string, std::vector<uint8_t>>>& copies) {
    const std::string bupPath = BupOfIfo(m_Files, ifoPath);
    const std::string ifoCopy = GetBackupPath(ifoPath);
    std::string error;
    // An earlier step of this run copied the pair as it was before the run. The video
    // manager's copy is the state before the first run that made the folder; any other copy is
    // an earlier run's, which the run's checks have refused.
    if (m_CopiesThisRun.count(ifoCopy) != 0 ||
        (IsVideoManagerName(ifoPath) && m_Files.KindOf(ifoCopy) != FileKind::Missing)) {
        for (const std::string& file : {ifoPath, bupPath}) {
            if (!record.Keeps(file, GetBackupPath(file), error)) {
                Alertf("Couldn't read %s: %s", file.c_str(), error.c_str());
                m_Failed = 1;
                return false;
            }
        }
        return true;
    }
    std::vector<uint8_t> ifoBytes;
    if (!m_Files.ReadWhole(ifoPath, ifoBytes, error)) {
        Alertf("Couldn't read %s: %s", ifoPath.c_str(), error.c_str());
        m_Failed = 1;
        return false;
    }
    // The .BUP is the disc's own second copy and may be the sound one when the IFO is damaged:
    // its bytes are kept as they are. Only where there is none does the IFO's twin stand in,
    // since the repair will write one.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> pair{{ifoPath, ifoBytes}};
    const FileKind bupKind = m_Files.KindOf(bupPath);
    if (bupKind == FileKind::Missing) {
        pair.emplace_back(bupPath, ifoBytes);
    } else if (bupKind == FileKind::Regular) {
        pair.emplace_back(bupPath, std::vector<uint8_t>());
        if (!m_Files.ReadWhole(bupPath, pair.back().second, error)) {
            Alertf("Couldn't read %s: %s", bupPath.c_str(), error.c_str());
            m_Failed = 1;
            return false;
        }
    }
    for (auto& [file, bytes] : pair) {
        const std::string copy = GetBackupPath(file);
        if (m_Files.KindOf(copy) != FileKind::Missing) {
            Alertf("Couldn't backup %s: %s is already there", file.c_str(), copy.c_str());
            m_Failed = 1;
            return false;
        }
        const FileState state = StateOfBytes(bytes.data(), bytes.size());
        const bool twin = file == bupPath && bupKind == FileKind::Missing;
        record.WillCopy(file, state, twin ? FileState{} : state);
        copies.emplace_back(copy, std::move(bytes));
    }
    return true;
}

void CVtsCleaner::SettleBackup() {
    BackupRecorder record(m_Files, Backup());
    const TitleSetFiles files = SetFiles();
    std::vector<std::string> names;
    if (m_Menu) {
        names.push_back(files.Vob(kMenuVobPart));
    } else {
        for (int32_t part = kFirstTitleVobPart; part <= kLastTitleVobPart; ++part) {
            names.push_back(files.Vob(part));
        }
    }
    for (const std::string& file :
         {files.Ifo(), files.Bup(), files.VideoManagerIfo(), files.VideoManagerBup()}) {
        names.push_back(file);
    }
    std::string error;
    bool recorded = record.Load(error);
    for (size_t i = 0; recorded && i < names.size(); ++i) {
        recorded = record.Left(names[i], error);
    }
    // The files are cleaned and whole; an undo still knows the originals, and a record still
    // marked running makes it take the cleaned VOBs as they are.
    if (!recorded || !record.Save(Durability::Cached, error)) {
        Logf(
            "Couldn't record what the run left in %s: %s. Restore Backup still knows the "
            "originals.",
            Backup().ManifestPath().c_str(), error.c_str());
    }
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
