#include "engine/backup/BackupRun.h"

#include <algorithm>

#include "engine/backup/BackupRecorder.h"
#include "engine/backup/FileState.h"
#include "ifo/IfoFile.h"
#include "support/DiskFlush.h"
#include "support/FileSystem.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

// How the messages name what a restore undoes.
std::string DomainsName(const std::vector<RestoreDomain>& domains) {
    if (domains.size() != 1) {
        return "the DVD";
    }
    return TitleSetName(std::max(0, TitleSetOf(domains.front().vobPath)));
}

// The VOBs a pass from backup that begins with vobPath moves, as it will find them.
std::vector<std::string> StepVobs(FileSystem& files, std::string path, bool menu) {
    std::vector<std::string> vobs;
    if (files.KindOf(path) == FileKind::Missing) {
        return vobs;
    }
    vobs.push_back(path);
    while (!menu && NextTitleVob(files, path, true)) {
        vobs.push_back(path);
    }
    return vobs;
}

}  // namespace

bool BackupRun::Begin(const BackupStore& store, const std::string& vobPath, bool menu,
                      bool movesVobs) {
    BackupRecorder record(m_Files, store);
    std::string error;
    const auto fail = [this](const std::string& path, const char* what, const std::string& why) {
        Alertf("Couldn't %s %s: %s", what, path.c_str(), why.c_str());
        m_Flags.failed = 1;
        return false;
    };
    if (!store.MakeReady()) {
        m_Flags.failed = 1;
        return false;
    }
    if (!record.Load(error)) {
        return fail(
            store.ManifestPath(), "read",
            error + ". Nothing was changed; move " + store.Folder() + " away and run again");
    }
    for (const std::string& vob :
         movesVobs ? StepVobs(m_Files, vobPath, menu) : std::vector<std::string>()) {
        FileState now;
        if (!MeasureFile(m_Files, vob, now, error)) {
            return fail(vob, "read", error);
        }
        record.WillCopy(vob, now, now);
    }
    // The video manager's IFO is changed by the repair's last step. Its copy is taken by the
    // first run from backup that will change it and kept while the folder exists.
    const TitleSetFiles files(m_Files, vobPath);
    std::vector<std::string> ifos{files.Ifo()};
    if (!files.IsVideoManager() && m_Files.IsRegularFile(files.VideoManagerIfo())) {
        CapturedLines quiet(CapturedLines::Log);  // the repair reports a damaged one
        if (CIfoFile(files.VideoManagerIfo(), m_Files).m_bLoaded) {
            ifos.push_back(files.VideoManagerIfo());
        }
    }
    Copies copies;
    for (const std::string& ifo : ifos) {
        if (!BackUpIfoPair(store, ifo, record, copies)) {
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

bool BackupRun::BackUpIfoPair(const BackupStore& store, const std::string& ifoPath,
                              BackupRecorder& record, Copies& copies) {
    const std::string bupPath = BupOfIfo(m_Files, ifoPath);
    const std::string ifoCopy = store.CopyOf(ifoPath);
    std::string error;
    // An earlier step of this run copied the pair as it was before the run. The video
    // manager's copy is the state before the first run that made the folder; any other copy is
    // an earlier run's, which the run's checks have refused.
    if (m_CopiesThisRun.count(ifoCopy) != 0 ||
        (IsVideoManagerName(ifoPath) && m_Files.KindOf(ifoCopy) != FileKind::Missing)) {
        for (const std::string& file : {ifoPath, bupPath}) {
            if (!record.Keeps(file, store.CopyOf(file), error)) {
                Alertf("Couldn't read %s: %s", file.c_str(), error.c_str());
                m_Flags.failed = 1;
                return false;
            }
        }
        return true;
    }
    std::vector<uint8_t> ifoBytes;
    if (!m_Files.ReadWhole(ifoPath, ifoBytes, error)) {
        Alertf("Couldn't read %s: %s", ifoPath.c_str(), error.c_str());
        m_Flags.failed = 1;
        return false;
    }
    // The .BUP is the disc's own second copy and may be the sound one when the IFO is damaged:
    // its bytes are kept as they are. Only where there is none does the IFO's twin stand in,
    // since the repair will write one.
    Copies pair{{ifoPath, ifoBytes}};
    const FileKind bupKind = m_Files.KindOf(bupPath);
    if (bupKind == FileKind::Missing) {
        pair.emplace_back(bupPath, ifoBytes);
    } else if (bupKind == FileKind::Regular) {
        pair.emplace_back(bupPath, std::vector<uint8_t>());
        if (!m_Files.ReadWhole(bupPath, pair.back().second, error)) {
            Alertf("Couldn't read %s: %s", bupPath.c_str(), error.c_str());
            m_Flags.failed = 1;
            return false;
        }
    }
    for (auto& [file, bytes] : pair) {
        const std::string copy = store.CopyOf(file);
        if (m_Files.KindOf(copy) != FileKind::Missing) {
            Alertf("Couldn't backup %s: %s is already there", file.c_str(), copy.c_str());
            m_Flags.failed = 1;
            return false;
        }
        const FileState state = StateOfBytes(bytes.data(), bytes.size());
        const bool twin = file == bupPath && bupKind == FileKind::Missing;
        record.WillCopy(file, state, twin ? FileState{} : state);
        copies.emplace_back(copy, std::move(bytes));
    }
    return true;
}

bool BackupRun::MoveIn(const BackupStore& store, const std::string& vob, std::string& copy) {
    copy = store.CopyOf(vob);
    // A copy is never replaced: the one there is the only copy of an earlier original.
    if (m_Files.KindOf(copy) != FileKind::Missing) {
        Alertf("Couldn't backup %s: %s is already there", vob.c_str(), copy.c_str());
        return false;
    }
    if (m_Files.Rename(vob, copy) != 0) {
        Alertf("Couldn't backup %s", vob.c_str());
        return false;
    }
    m_CopiesThisRun.insert(copy);
    return true;
}

bool BackupRun::WillRepair(const BackupStore& store, const std::string& ifoPath,
                           const uint8_t* image, size_t size) {
    BackupRecorder record(m_Files, store);
    const FileState repaired = StateOfBytes(image, size);
    std::string error;
    bool recorded = record.Load(error);
    if (recorded) {
        record.MayBecome(ifoPath, repaired);
        record.MayBecome(BupOfIfo(m_Files, ifoPath), repaired);
        recorded = record.Save(Durability::Cached, error);
    }
    if (!recorded) {
        Alertf("Couldn't write %s: %s", store.ManifestPath().c_str(), error.c_str());
        m_Flags.failed = 1;
        return false;
    }
    return true;
}

void BackupRun::Settle(const BackupStore& store, const std::string& vobPath, bool menu) {
    BackupRecorder record(m_Files, store);
    const TitleSetFiles files(m_Files, vobPath);
    std::vector<std::string> names;
    if (menu) {
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
            store.ManifestPath().c_str(), error.c_str());
    }
}

bool BackupRun::Restore(const BackupStore& store, const std::vector<RestoreDomain>& domains,
                        bool force) {
    switch (m_Files.KindOf(store.Folder())) {
        case FileKind::Folder:
            break;
        case FileKind::Missing:
            Logf("Nothing to restore: there is no %s", store.Folder().c_str());
            m_Flags.backupLeft = 0;
            return true;
        default:
            Alert(store.UnsafeMessage().c_str());
            return false;
    }
    // The undo of this engine's own run that did not finish takes the copies it made as they
    // are: another program may have cut one, and it is still the best there is.
    BackupRestore restore(m_Files, store, domains, m_CopiesThisRun);
    if (restore.Empty()) {
        Logf("Nothing to restore: %s holds no copy of %s", store.Folder().c_str(),
             DomainsName(domains).c_str());
        m_Flags.backupLeft = 0;
        return true;
    }
    const RestoreCheck check = restore.Check();
    if (check.Refused()) {
        if (!force || check.refusal != RestoreRefusal::Unverified) {
            Alert(check.message.c_str());
            m_Flags.refused = 1;
            return false;
        }
        Logf("Restoring anyway, as asked. %s", check.message.c_str());
    }
    if (!restore.Run()) {
        m_Flags.failed = 1;
        return false;
    }
    m_Flags.backupLeft = 0;
    return true;
}

RestoreCheck BackupRun::CheckRestore(const BackupStore& store,
                                     const std::vector<RestoreDomain>& domains) const {
    switch (m_Files.KindOf(store.Folder())) {
        case FileKind::Folder:
            break;
        case FileKind::Missing:
            return {};
        default:
            return {RestoreRefusal::Blocked, store.UnsafeMessage()};
    }
    BackupRestore restore(m_Files, store, domains, m_CopiesThisRun);
    return restore.Empty() ? RestoreCheck{} : restore.Check();
}

void BackupRun::Delete(const BackupStore& store) {
    switch (m_Files.KindOf(store.Folder())) {
        case FileKind::Folder:
            m_Flags.backupLeft = store.DeleteCopies() ? 0 : 1;
            return;
        case FileKind::Missing:
            m_Flags.backupLeft = 0;
            return;  // nothing to delete, and nothing is made to be deleted
        default:
            Alert(store.UnsafeMessage().c_str());
            return;
    }
}

}  // namespace dorvex
