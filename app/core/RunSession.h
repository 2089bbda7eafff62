// One run from its start to its end, the same in every front end: the prologue that checks
// everything before anything changes (the VOB opened, the disc folder locked, the backup emptied
// for -c, the run's own checks), the run log framed by its start and end lines, the engine's run,
// and the restore after a run from backup that did not finish. A front end fills a RunOptions,
// shows what the session tells it and, through RunHooks, asks and shows progress. The headless
// front ends run it all on their own thread with Ctrl-C and SIGTERM asking for an abort; the
// dialog runs the prologue and Begin on its thread and the rest on its worker.
#pragma once

#include <functional>
#include <string>

#include "app/core/RunOptions.h"
#include "engine/VtsCleaner.h"
#include "support/FolderLock.h"

namespace dorvex {

// How a run ended.
struct RunOutcome {
    bool aborted = false;   // an abort was asked for (Ctrl-C, SIGTERM, Abort, closing)
    bool failed = false;    // a read, write, truncation, rename or save failed
    bool restored = false;  // from backup: the files were put back as they were
    bool refused = false;   // a step would not start (see CheckBeforeRun): nothing was changed
    // In place: the run kept its journal, and running the same command again finishes it.
    bool finishable = false;

    bool Interrupted() const { return aborted || failed; }
    // Anything but a run that did all it was asked.
    bool Unfinished() const { return aborted || failed || refused; }
};

// What a front end adds to a session; a hook left empty does nothing.
struct RunHooks {
    // Asked when the stream is shorter than its IFO says, or not its own (refusal says so): true
    // cleans what is there anyway. Unset, the run is refused.
    std::function<bool(const std::string& refusal)> cleanShortStreamAnyway;
    // Runs the engine's run (`run`) while the front end shows its progress.
    std::function<void(const std::function<void()>& run)> showProgressWhile;
    // True when the front end was asked to stop while the run was getting ready (a Ctrl-C that a
    // new run's cleared abort flag would otherwise hide).
    std::function<bool()> stopRequested;
    // The backup that -c could not delete (a title set of the folder is half cleaned) ends the
    // prologue; otherwise the run's checks decide whether it may go on.
    bool stopWhenBackupKept = false;
};

// How the prologue ended.
enum class StartStatus {
    Ready,
    NotOpened,  // the VOB was refused by the name check or the engine's Open
    Refused,    // another run holds the folder, -c kept the backup, or a check refused
    Stopped,    // the front end was asked to stop (RunHooks::stopRequested)
};

struct RunStart {
    StartStatus status = StartStatus::Ready;
    // What to tell the user, as it stands; empty when the engine has said it already.
    std::string message;

    bool Ready() const { return status == StartStatus::Ready; }
};

class RunSession {
  public:
    // The options go into the engine here, once for the whole run.
    RunSession(CVtsCleaner& engine, const RunOptions& options, RunHooks hooks = {});

    // The prologue, in its order; nothing is changed before it ends Ready (but the backup that
    // -c asks to delete). Open: the VOB through the dialog's name check (CheckedOpen, with the
    // command line's messages).
    RunStart Open(const std::string& vob);
    // On the VOB the engine has open: the disc folder locked until the session ends, the backup
    // deleted for -c, everything the run will do checked (the one step, or every step of a
    // full-DVD run; a run that waits for its file checks it once it is there).
    RunStart Prepare();
    // Open, then Prepare.
    RunStart Start(const std::string& vob);

    // On the front end's thread: the flags of an earlier run cleared, the log emptied and
    // "Starting Processing at %H:%M:%S" logged.
    void Begin();
    // The run itself: ProcessFullDvd or ProcessVts, with the front end's progress shown.
    // m_Running is the front end's to set.
    void Run();
    // "End Processing at %H:%M:%S" appended to the log without a line end; then, after a run
    // from backup that was aborted, failed or cut short by closing the front end, the restore.
    RunOutcome Finish(bool closing);

    // Begin, Run and Finish on the calling thread, with Ctrl-C and SIGTERM asking the engine to
    // abort until the restore is done (a second Ctrl-C must not cut a restore short).
    RunOutcome RunHere();

    const RunOptions& Options() const { return m_Options; }

  private:
    bool Lock(std::string& refusal);
    RunCheck Check();
    RunCheck CheckFullDvd();

    CVtsCleaner& m_Engine;
    RunOptions m_Options;
    RunHooks m_Hooks;
    FolderLock m_Lock;
};

// What the user is told about the files after a run that did not finish ("" after one that
// did): whether they were put back, or what they hold now.
std::string DescribeOutcome(const RunOutcome& outcome, bool inPlace);

// Holds the disc folder of a VOB for a command that changes its files (a run, Restore, Delete
// Backup). False, with what to tell the user, when a run or another command holds it or the
// folder cannot be locked at all.
bool LockDiscFolder(const std::string& vobPath, FolderLock& lock, std::string& refusal);

}  // namespace dorvex
