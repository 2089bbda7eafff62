#include "app/core/AbortSignals.h"

#include <atomic>

namespace dorvex {

namespace {

// Only lock-free atomics may be touched from a signal handler.
static_assert(std::atomic<uint8_t>::is_always_lock_free);
static_assert(std::atomic<CVtsCleaner*>::is_always_lock_free);

std::atomic<CVtsCleaner*> g_pAbortTarget{nullptr};
std::atomic<uint32_t> g_SignalsCaught{0};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

void RequestAbortOnSignal(int) {
    g_SignalsCaught.fetch_add(1);
    CVtsCleaner* engine = g_pAbortTarget.load();
    if (engine != nullptr) {
        engine->m_Abort.store(1);
    }
}

}  // namespace

uint32_t AbortSignalsCaught() {
    return g_SignalsCaught.load();
}

ScopedAbortOnSignals::ScopedAbortOnSignals(CVtsCleaner& engine)
    : m_OldTarget(g_pAbortTarget.exchange(&engine)) {
    struct sigaction action {};
    action.sa_handler = RequestAbortOnSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted reads and writes restart: the I/O layer must not take a Ctrl-C for a failure.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_OldInt);
    sigaction(SIGTERM, &action, &m_OldTerm);
}

ScopedAbortOnSignals::~ScopedAbortOnSignals() {
    sigaction(SIGINT, &m_OldInt, nullptr);
    sigaction(SIGTERM, &m_OldTerm, nullptr);
    g_pAbortTarget.store(m_OldTarget);
}

}  // namespace dorvex
