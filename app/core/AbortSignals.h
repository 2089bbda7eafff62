// Ctrl-C and SIGTERM during a run ask the engine to abort instead of killing the process, so a
// run from backup can still be restored.
#pragma once

#include <signal.h>

#include "engine/VtsCleaner.h"

namespace dorvex {

// While it lives, SIGINT and SIGTERM set the engine's abort flag; the previous handling (and an
// enclosing scope's engine) comes back when it is destroyed. Scopes nest: a run held inside a
// longer job on the same engine (an image's clean) hands the signals back to the job.
class ScopedAbortOnSignals {
  public:
    explicit ScopedAbortOnSignals(CVtsCleaner& engine);
    ~ScopedAbortOnSignals();
    ScopedAbortOnSignals(const ScopedAbortOnSignals&) = delete;
    ScopedAbortOnSignals& operator=(const ScopedAbortOnSignals&) = delete;

  private:
    struct sigaction m_OldInt {};
    struct sigaction m_OldTerm {};
    CVtsCleaner* m_OldTarget = nullptr;
};

// How many SIGINT and SIGTERM the handler above has caught in this process. Steps outside the
// engine's run (copying an image, writing one) compare it with the count at their start, which a
// new run's cleared abort flag cannot hide.
uint32_t AbortSignalsCaught();

}  // namespace dorvex
