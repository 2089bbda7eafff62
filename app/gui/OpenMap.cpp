// The dialog's "Map" entry: the last run's map of the current VOB, or a plan's read now.
#include <QApplication>
#include <QGuiApplication>

#include "app/gui/CleanerDlg.h"
#include "engine/plan/DryRun.h"
#include "support/Sinks.h"

namespace dorvex::gui {

namespace {

// The title sets of the domains a pass went through to its end.
std::vector<map::TitleSetMap> PassedDomains(const std::vector<map::DomainMap>& domains) {
    std::vector<map::DomainMap> passed;
    for (const map::DomainMap& domain : domains) {
        if (domain.planned) {
            passed.push_back(domain);
        }
    }
    return map::GroupByTitleSet(passed);
}

}  // namespace

void CCleanerDlg::OnMap() {
    const std::string vob = m_Engine.VobPathSnapshot();
    if (WorkerRunning() || m_Engine.m_Running.load() || vob.empty()) {
        return;
    }
    if (m_MapWindow == nullptr) {
        m_MapWindow = new CMapWindow(this);
        m_MapWindow->setWindowIcon(m_Icon);
    }
    std::vector<map::TitleSetMap> maps = PassedDomains(m_Engine.m_RunMap.Domains());
    if (!maps.empty() && m_Engine.m_RunMapVob == vob) {
        m_MapWindow->ShowMaps(std::move(maps), "before and after the last run");
    } else {
        // A plan reads the title set once, on this thread: no run is going on, and its log
        // lines and alerts are not the dialog's.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        ScopedSinks quiet(DiscardMessage, nullptr);
        CPlanningCleaner planner(m_Engine.m_Files);
        RunOptions options = m_Options;
        options.m_RemoveUnrefed = m_RemoveUnrefed->isChecked() ? 1 : 0;
        options.m_FixPGCLBAs = m_FixPgcLbas->isChecked() ? 1 : 0;
        options.ApplyTo(planner);
        std::vector<map::DomainMap> domains;
        if (planner.Open(vob) == 0) {
            for (const PlannedStep& step : planner.Plan(false).steps) {
                domains.push_back(step.map);
            }
        }
        QGuiApplication::restoreOverrideCursor();
        m_MapWindow->ShowMaps(PassedDomains(domains),
                              "before a run, and after it as Cleanup would leave it (a plan: "
                              "nothing was changed)");
    }
    m_MapWindow->show();
    m_MapWindow->raise();
}

}  // namespace dorvex::gui
