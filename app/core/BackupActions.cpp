#include "app/core/BackupActions.h"

#include <algorithm>

#include "app/core/AbortSignals.h"
#include "app/core/RunSession.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

// As the engine's messages name a title set (VTS_01, whatever the case of the disc's names).
std::string SetName(const std::string& vob) {
    const int32_t titleSet = TitleSetOf(vob);
    return titleSet >= 0 ? TitleSetName(titleSet) : GetBaseName(vob);
}

}  // namespace

BackupListing ListBackup(CVtsCleaner& engine) {
    BackupListing listing;
    listing.folder = StripSeparator(engine.BackupFolder());
    const FileKind kind = engine.m_Files.KindOf(listing.folder);
    listing.unsafe = kind != FileKind::Missing && kind != FileKind::Folder;
    if (kind != FileKind::Folder) {
        return listing;
    }
    for (const std::string& name : engine.m_Files.ListFiles(engine.BackupFolder())) {
        if (IsDvdFileName(name)) {
            listing.files.push_back(name);
        }
    }
    std::sort(listing.files.begin(), listing.files.end());
    return listing;
}

bool BelongsToTitleSet(const std::string& vobPath, const std::string& fileName) {
    const int32_t titleSet = TitleSetOf(vobPath);
    return titleSet >= 0 && IsDvdFileName(fileName) && TitleSetOf(fileName) == titleSet;
}

BackupAction::BackupAction(CVtsCleaner& engine, BackupActionKind kind, bool wholeDisc)
    : m_Engine(engine), m_Kind(kind), m_WholeDisc(wholeDisc) {}

bool BackupAction::Lock(std::string& refusal) {
    return LockDiscFolder(m_Engine.VobPathSnapshot(), m_Lock, refusal);
}

BackupCheck BackupAction::Check() {
    const bool restore = m_Kind == BackupActionKind::Restore;
    const std::string vob = m_Engine.VobPathSnapshot();
    const BackupListing backup = ListBackup(m_Engine);
    BackupCheck check;
    check.folder = backup.folder;
    check.what = m_WholeDisc ? "the DVD" : SetName(vob);
    check.refused = true;
    if (backup.unsafe) {
        // The engine's own action says why it will not work there.
        restore ? m_Engine.RestoreBackup() : m_Engine.DeleteBackup();
        return check;
    }
    if (m_Engine.RefusesForInterruptedRun(restore ? m_WholeDisc : true)) {
        return check;
    }
    for (const std::string& name : backup.files) {
        check.copies += !restore || m_WholeDisc || BelongsToTitleSet(vob, name) ? 1 : 0;
    }
    if (check.copies == 0) {
        check.message = restore ? "no backup of " + SetName(vob) + " in " + backup.folder
                                : "no backup in " + backup.folder;
        return check;
    }
    if (restore) {
        const RestoreCheck found = m_Engine.CheckRestore(Domains());
        if (found.Refused()) {
            check.forceable = found.refusal == RestoreRefusal::Unverified;
            check.message = found.message;
            return check;
        }
    }
    check.refused = false;
    return check;
}

bool BackupAction::Perform(bool force) {
    ScopedAbortOnSignals holdSignals(m_Engine);
    const BackupListing backup = ListBackup(m_Engine);
    if (m_Kind == BackupActionKind::Delete) {
        m_Engine.DeleteBackup();
        return m_Engine.m_BackupLeft.load() == 0;
    }
    const bool done = m_Engine.RestoreDomains(Domains(), force);
    m_Engine.m_Files.Remove(backup.folder);  // only when nothing is left in it
    return done;
}

std::vector<RestoreDomain> BackupAction::Domains() const {
    if (!m_WholeDisc) {
        return {{m_Engine.VobPathSnapshot(), m_Engine.m_Menu != 0}};
    }
    // Each title set's menu and titles, then the video manager, as the run went.
    std::vector<RestoreDomain> domains;
    for (const FullDvdStep& step : FullDvdSteps(GetFolder(m_Engine.VobPathSnapshot()))) {
        domains.push_back({step.vob, step.menu});
    }
    return domains;
}

}  // namespace dorvex
