#include "app/core/RunSession.h"

#include <cerrno>
#include <cstring>

#include "app/core/AbortSignals.h"
#include "app/core/Clock.h"
#include "app/core/OpenCheck.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

bool LockDiscFolder(const std::string& vobPath, FolderLock& lock, std::string& refusal) {
    const std::string folder = StripSeparator(GetFolder(vobPath));
    std::string holder;
    if (lock.Acquire(folder.empty() ? "." : folder, holder)) {
        return true;
    }
    if (lock.LockError() == 0) {
        refusal = "Another Dorvex run (" + holder + ") is working on " + folder +
                  ": nothing was changed. Wait until it ends, then try again.";
        return false;
    }
    // No other run is in the way: the folder itself cannot be locked, and saying so tells the
    // user what to change.
    const int error = lock.LockError();
    const char* todo =
        error == EACCES || error == EPERM
            ? "give your user read permission on the folder (the lock is taken on the folder "
              "itself), then try again."
        : error == ENOENT || error == ENOTDIR
            ? "check that the folder is still there, then try again."
        : error == ENOLCK
            ? "copy the disc to a file system that keeps locks (a local disk), then try again."
            : "check the folder and its file system, then try again.";
    refusal = "Couldn't lock " + folder + " against other Dorvex runs: " + holder +
              ". Nothing was changed; " + todo;
    return false;
}

RunSession::RunSession(CVtsCleaner& engine, const RunOptions& options, RunHooks hooks)
    : m_Engine(engine), m_Options(options), m_Hooks(std::move(hooks)) {
    m_Options.ApplyTo(m_Engine);
}

RunStart RunSession::Open(const std::string& vob) {
    RunStart start;
    auto refuse = [&start](const std::string& text) { start = {StartStatus::NotOpened, text}; };
    CheckedOpen(m_Engine, vob, true, refuse);
    return start;
}

RunStart RunSession::Prepare() {
    std::string refusal;
    if (!Lock(refusal)) {
        return {StartStatus::Refused, refusal};
    }
    if (m_Options.m_EmptyBackup) {
        m_Engine.DeleteBackup();
        // The engine has said why it kept the backup.
        if (m_Hooks.stopWhenBackupKept &&
            (m_Engine.m_Refused.load() != 0 || m_Engine.m_BackupLeft.load() != 0)) {
            return {StartStatus::Refused, ""};
        }
    }
    RunCheck check = Check();
    if (check.refusal == RunRefusal::ShortStream && m_Hooks.cleanShortStreamAnyway &&
        m_Hooks.cleanShortStreamAnyway(check.message)) {
        // The answer changes what the run is asked to do.
        m_Options.m_AllowShort = 1;
        m_Options.ApplyTo(m_Engine);
        check = Check();
    }
    if (check.Refused()) {
        return {StartStatus::Refused, check.message};
    }
    if (m_Hooks.stopRequested && m_Hooks.stopRequested()) {
        return {StartStatus::Stopped, ""};
    }
    return {};
}

RunStart RunSession::Start(const std::string& vob) {
    if (RunStart opened = Open(vob); !opened.Ready()) {
        return opened;
    }
    return Prepare();
}

bool RunSession::Lock(std::string& refusal) {
    return LockDiscFolder(m_Engine.VobPathSnapshot(), m_Lock, refusal);
}

RunCheck RunSession::Check() {
    if (m_Options.m_WaitForFile && m_Options.m_InPlace) {
        return {};
    }
    return m_Options.m_FullDvd ? CheckFullDvd() : m_Engine.CheckBeforeRun();
}

RunCheck RunSession::CheckFullDvd() {
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
    return std::string(how) +
           "; the backup was not restored in full (see above): what it did not put back is still "
           "in the backup folder.";
}

void RunSession::Begin() {
    m_Engine.m_Abort = 0;
    m_Engine.m_Failed = 0;
    m_Engine.m_Refused = 0;
    m_Engine.m_JournalLeft = 0;
    // A stop asked for just before the flags were cleared still counts.
    if (m_Hooks.stopRequested && m_Hooks.stopRequested()) {
        m_Engine.m_Abort = 1;
    }
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
    const auto run = [this] {
        if (m_Options.m_FullDvd) {
            m_Engine.ProcessFullDvd();
        } else {
            m_Engine.ProcessVts();
        }
    };
    if (m_Hooks.showProgressWhile) {
        m_Hooks.showProgressWhile(run);
    } else {
        run();
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
        // A restore that could not put everything back has said what is left where.
        outcome.restored = m_Engine.m_BackupLeft.load() == 0;
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
