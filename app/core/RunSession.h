// One run from its start to its end, the same in every front end: the options into the engine,
// the run log framed by its start and end lines, the engine's run, and the restore after a run
// from backup that did not finish. The headless front ends run it on their own thread with
// Ctrl-C and SIGTERM asking for an abort; the dialog starts it on its thread and runs the rest
// on its worker.
#pragma once

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

class RunSession {
  public:
    RunSession(CVtsCleaner& engine, const RunOptions& options)
        : m_Engine(engine), m_Options(options) {}

    // One run at a time per disc folder: the lock on the folder of the engine's VOB, held until
    // the session ends. False, with what to tell the user, when another run holds it.
    bool Lock(std::string& refusal);
    // Everything the run will do checked before anything changes: the one step, or every step
    // of a full-DVD run (a run that waits for its file checks it once it is there).
    RunCheck Check();

    // On the front end's thread: the options into the engine, the flags of an earlier run
    // cleared, the log emptied and "Starting Processing at %H:%M:%S" logged.
    void Begin();
    // The run itself: ProcessFullDvd or ProcessVts. m_Running is the front end's to set.
    void Run();
    // "End Processing at %H:%M:%S" appended to the log without a line end; then, after a run
    // from backup that was aborted, failed or cut short by closing the front end, the restore.
    RunOutcome Finish(bool closing);

    // Begin, Run and Finish on the calling thread, with Ctrl-C and SIGTERM asking the engine to
    // abort until the restore is done (a second Ctrl-C must not cut a restore short).
    RunOutcome RunHere();

    const RunOptions& Options() const { return m_Options; }

  private:
    CVtsCleaner& m_Engine;
    RunOptions m_Options;
    FolderLock m_Lock;
};

// What the user is told about the files after a run that did not finish ("" after one that
// did): whether they were put back, or what they hold now.
std::string DescribeOutcome(const RunOutcome& outcome, bool inPlace);

// Holds the disc folder of a VOB for a command that changes its files outside a run (Restore,
// Delete Backup). False, with what to tell the user, when a run or another command holds it.
bool LockDiscFolder(const std::string& vobPath, FolderLock& lock, std::string& refusal);

}  // namespace dorvex
