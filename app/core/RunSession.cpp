#include "app/core/RunSession.h"

#include "app/core/AbortSignals.h"
#include "app/core/RunSteps.h"
#include "support/Sinks.h"

namespace dorvex {

void RunSession::Begin() {
    m_Options.ApplyTo(m_Engine);
    m_Engine.m_Abort = 0;
    m_Engine.m_Failed = 0;
    // Each run's log replaces the previous one. A log that cannot be opened is not an error:
    // lines then reach the status line and standard output only.
    OpenLogFile(m_Engine.m_LogPath, "w");
    Logf("%s", LocalTimeText("Starting Processing at %H:%M:%S").c_str());
}

void RunSession::Run() {
    if (m_Options.m_FullDvd) {
        m_Engine.ProcessFullDvd();
    } else {
        m_Engine.ProcessVts();
    }
}

RunOutcome RunSession::Finish(bool closing) {
    // A run that returned early may have left the start-of-run log open; close it so that
    // the end line stays the last text of the file and later lines (the restore's) do not
    // land after it.
    CloseLogFile();
    AppendToFile(m_Engine.m_LogPath, LocalTimeText("End Processing at %H:%M:%S"));

    RunOutcome outcome;
    outcome.failed = m_Engine.m_Failed.load() != 0;
    outcome.aborted = m_Engine.m_Abort.load() != 0 || closing;
    if (m_Engine.m_InPlace == 0 && outcome.Interrupted()) {
        m_Engine.RestoreBackup();
        outcome.restored = true;
    }
    return outcome;
}

RunOutcome RunSession::RunHere() {
    ScopedAbortOnSignals abortOnSignals(m_Engine);
    Begin();
    m_Engine.m_Running = 1;
    Run();
    m_Engine.m_Running = 0;
    return Finish(false);
}

}  // namespace dorvex
