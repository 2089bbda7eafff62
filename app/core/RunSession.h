// One run from its start to its end, the same in every front end: the options into the engine,
// the run log framed by its start and end lines, the engine's run, and the restore after a run
// from backup that did not finish. The headless front ends run it on their own thread with
// Ctrl-C and SIGTERM asking for an abort; the dialog starts it on its thread and runs the rest
// on its worker.
#pragma once

#include "app/core/RunOptions.h"
#include "engine/VtsCleaner.h"

namespace dorvex {

// How a run ended.
struct RunOutcome {
    bool aborted = false;   // an abort was asked for (Ctrl-C, SIGTERM, Abort, closing)
    bool failed = false;    // a read, write, truncation, rename or save failed
    bool restored = false;  // from backup: the files were put back as they were

    bool Interrupted() const { return aborted || failed; }
};

class RunSession {
  public:
    RunSession(CVtsCleaner& engine, const RunOptions& options)
        : m_Engine(engine), m_Options(options) {}

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
    const RunOptions m_Options;
};

}  // namespace dorvex
