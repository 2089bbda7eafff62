// A whole DVD folder in one run: every title set's menu and titles, then the video manager's
// menu. Where a VOB is absent but its IFO is present, the IFO alone is brought in line, unless
// its tables still describe the missing VOB's content: a partial copy keeps them.
#include "engine/VtsCleaner.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

// The run's log file, opened for appending when no step holds it open: every line of a
// full-DVD run reaches it, not only those of the VOB passes.
void KeepRunLogOpen(const CVtsCleaner& engine) {
    if (!IsLogFileOpen()) {
        OpenLogFile(engine.m_LogPath, "a", engine.m_LogFollowsLinks != 0);
    }
}

// Sectors that a domain's tables in the IFO at ifoPath describe (0 when none, or when the IFO
// is refused).
uint32_t DescribedSectors(FileSystem& files, const std::string& ifoPath, bool menu) {
    // A refused IFO is left to the update, which reports it as it always has: not twice.
    CapturedLines quiet(CapturedLines::Log);
    CIfoFile ifo(ifoPath, files);
    return ifo.m_bLoaded ? ifo.DescribedSectors(menu) : 0;
}

}  // namespace

bool CVtsCleaner::RunFullDvdStep(const std::string& vobPath, bool menu) {
    SetVobPath(vobPath);
    // The base check only: a full-DVD run does not go through the dialog's name check.
    if (CVtsCleaner::Open(vobPath) == 0) {
        ProcessVts();
    } else {
        m_Menu = menu ? 1 : 0;
        KeepRunLogOpen(*this);
        UpdateIfoOnly();
    }
    return !RunInterrupted();
}

void CVtsCleaner::ProcessFullDvd() {
    const std::string folder = GetFolder(VobPathSnapshot());
    m_BackupRun.StartRun();
    m_InFullDvd = true;
    struct FullDvdScope {
        bool& flag;
        ~FullDvdScope() { flag = false; }
    } scope{m_InFullDvd};
    KeepRunLogOpen(*this);
    Logf("PROCESSING FULL DVD");
    const std::vector<FullDvdStep> steps = FullDvdSteps(folder);
    for (size_t i = 0; i < steps.size(); ++i) {
        const bool goOn = RunFullDvdStep(steps[i].vob, steps[i].menu);
        // Between title-set steps a pause holds the run; after the last one nothing waits.
        if (i + 1 < steps.size() ? !WaitWhilePaused() : !goOn) {
            return;
        }
    }
    // The last VOB pass closed the log behind it.
    KeepRunLogOpen(*this);
    Logf("End of FULL DVD process");
}

void CVtsCleaner::UpdateIfoOnly() {
    const std::string vob = VobPathSnapshot();
    const std::string ifoPath = SetFiles().Ifo();
    if (!m_Files.Exists(ifoPath)) {
        return;
    }
    // Emptying tables that still describe sectors would throw away what this run never saw
    // (a partial copy, a folder of menus only); in place nothing could bring it back.
    if (!m_PruneMissingVobs) {
        if (const uint32_t described = DescribedSectors(m_Files, ifoPath, m_Menu != 0);
            described > 0) {
            Logf("%s does not exists, leaving its tables in %s unchanged (%u sectors)", vob.c_str(),
                 ifoPath.c_str(), described);
            OnMissingVob(false, described);
            return;
        }
    }
    std::unique_ptr<CIfoFile> ifo = LoadIfo();
    if (ifo->m_bLoaded && !m_Failed.load()) {
        Logf("%s does not exists, updating IFO...", vob.c_str());
        OnMissingVob(true, ifo->DescribedSectors(m_Menu != 0));
        m_Dropping = 0;
        m_ReadTotal = 0;
        m_WrittenTotal = 0;
        m_NavCount = 0;
        m_MapCount = 0;
        m_CellCount = 0;
        m_Cells.assign(1, CellTableEntry{});
        UpdateIfos(*ifo);
    }
}

}  // namespace dorvex
