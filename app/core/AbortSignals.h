// Ctrl-C and SIGTERM during a run ask the engine to abort instead of killing the process, so a
// run from backup can still be restored.
#pragma once

#include <signal.h>

#include "engine/VtsCleaner.h"

namespace dorvex {

// While it lives, SIGINT and SIGTERM set the engine's abort flag; the previous handling comes
// back when it is destroyed. One at a time.
class ScopedAbortOnSignals {
  public:
    explicit ScopedAbortOnSignals(CVtsCleaner& engine);
    ~ScopedAbortOnSignals();
    ScopedAbortOnSignals(const ScopedAbortOnSignals&) = delete;
    ScopedAbortOnSignals& operator=(const ScopedAbortOnSignals&) = delete;

  private:
    struct sigaction m_OldInt {};
    struct sigaction m_OldTerm {};
};

}  // namespace dorvex
