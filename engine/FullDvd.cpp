// A whole DVD folder in one run: every title set's menu and titles, then the video manager's
// menu. Where a VOB is absent but its IFO is present, the IFO alone is brought in line.
#include "engine/VtsCleaner.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

bool CVtsCleaner::RunFullDvdStep(const std::string& vobPath, bool menu) {
    SetVobPath(vobPath);
    // The base check only: a full-DVD run does not go through the dialog's name check.
    if (CVtsCleaner::Open(vobPath) == 0) {
        ProcessVts();
    } else {
        m_Menu = menu ? 1 : 0;
        UpdateIfoOnly();
    }
    return !RunInterrupted();
}

void CVtsCleaner::ProcessFullDvd() {
    const std::string folder = GetFolder(VobPathSnapshot());
    m_CopiesThisRun.clear();
    m_InFullDvd = true;
    struct FullDvdScope {
        bool& flag;
        ~FullDvdScope() { flag = false; }
    } scope{m_InFullDvd};
    Logf("PROCESSING FULL DVD");
    const std::vector<FullDvdStep> steps = FullDvdSteps(folder);
    for (size_t i = 0; i < steps.size(); ++i) {
        const bool goOn = RunFullDvdStep(steps[i].vob, steps[i].menu);
        // Between title-set steps a pause holds the run; after the last one nothing waits.
        if (i + 1 < steps.size() ? !WaitWhilePaused() : !goOn) {
            return;
        }
    }
    Logf("End of FULL DVD process");
}

void CVtsCleaner::UpdateIfoOnly() {
    const std::string vob = VobPathSnapshot();
    if (!m_Files.Exists(SetFiles().Ifo())) {
        return;
    }
    std::unique_ptr<CIfoFile> ifo = LoadIfo();
    if (ifo->m_bLoaded && !m_Failed.load()) {
        Logf("%s does not exists, updating IFO...", vob.c_str());
        m_Dropping = 0;
        m_ReadTotal = 0;
        m_WrittenTotal = 0;
        m_NavCount = 0;
        m_MapCount = 0;
        m_CellCount = 0;
        m_Cells.clear();
        UpdateIfos(*ifo);
    }
}

}  // namespace dorvex
