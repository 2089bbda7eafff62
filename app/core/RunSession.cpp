#include "app/core/RunSession.h"

#include <cerrno>
#include <cstring>

#include "app/core/AbortSignals.h"
#include "app/core/Clock.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

bool LockDiscFolder(const std::string& vobPath, FolderLock& lock, std::string& refusal) {
    const std::string folder = StripSeparator(GetFolder(vobPath));
    std::string holder;
    if (lock.Acquire(folder.empty() ? "." : folder, holder)) {
        return true;
    }
    refusal = "Another Dorvex run (" + holder + ") is working on " + folder +
              ": nothing was changed. Wait until it ends, then try again.";
    return false;
}

bool RunSession::Lock(std::string& refusal) {
    return LockDiscFolder(m_Engine.VobPathSnapshot(), m_Lock, refusal);
}

RunCheck RunSession::Check() {
    m_Options.ApplyTo(m_Engine);
    if (m_Options.m_WaitForFile && m_Options.m_InPlace) {
        return {};
    }
    if (!m_Options.m_FullDvd) {
        return m_Engine.CheckBeforeRun();
    }
    // Each step on an engine of its own, so that the run's engine keeps its VOB.
    CVtsCleaner step(m_Engine.m_Files);
    m_Options.ApplyTo(step);
    for (const FullDvdStep& each : FullDvdSteps(GetFolder(m_Engine.VobPathSnapshot()))) {
        if (step.CVtsCleaner::Open(each.vob) != 0) {
            continue;  // an absent VOB: its IFO alone is brought in line, as it always was
        }
        if (RunCheck check = step.CheckBeforeRun(); check.Refused()) {
            return check;
        }
    }
    return {};
}

std::string DescribeOutcome(const RunOutcome& outcome, bool inPlace) {
    if (!outcome.Unfinished()) {
        return {};
    }
    if (outcome.refused) {
        return "Nothing was changed.";
    }
    const char* how = outcome.aborted ? "Interrupted" : "The run failed";
    if (outcome.restored) {
        return std::string(how) + "; the files were restored from the backup.";
    }
    if (outcome.finishable) {
        return std::string(how) +
               "; the title set is half cleaned in place, and its journal holds what is left to "
               "do: run the same command again to finish it.";
    }
    if (inPlace) {
        return std::string(how) + "; no title set was left half cleaned.";
    }
    return std::string(how) + ".";
}

void RunSession::Begin() {
    m_Options.ApplyTo(m_Engine);
    m_Engine.m_Abort = 0;
    m_Engine.m_Failed = 0;
    m_Engine.m_Refused = 0;
    m_Engine.m_JournalLeft = 0;
    // Each run's log replaces the previous one (unless it is asked to add to it). A log that cannot
    // be opened does not stop the run (its lines still reach the status line and standard output),
    // but the user is told.
    if (!OpenLogFile(m_Engine.m_LogPath, m_Options.m_AppendLog ? "a" : "w",
                     m_Engine.m_LogFollowsLinks != 0)) {
        Alertf("Couldn't open the log file %s: %s. The run goes on without it.",
               m_Engine.m_LogPath.c_str(), strerror(errno));
    }
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
    AppendToFile(m_Engine.m_LogPath, LocalTimeText("End Processing at %H:%M:%S"),
                 m_Engine.m_LogFollowsLinks != 0);

    RunOutcome outcome;
    outcome.failed = m_Engine.m_Failed.load() != 0;
    outcome.aborted = m_Engine.m_Abort.load() != 0 || closing;
    outcome.refused = m_Engine.m_Refused.load() != 0;
    outcome.finishable = m_Engine.m_JournalLeft.load() != 0;
    // A refused step changed nothing, and what the backup holds then is an earlier run's.
    if (m_Engine.m_InPlace == 0 && outcome.Interrupted() && !outcome.refused) {
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
