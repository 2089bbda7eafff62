// What every fuzz target shares: a scratch folder of its own process on tmpfs, quiet log and
// alert sinks, and a crash when a run breaks one of the program's promises.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/FuzzHarness.h"
#include "support/Sinks.h"

namespace dorvex::testkit {

inline void QuietSink(char*, int32_t) {}

inline std::string& ScratchFolder() {
    static std::string folder;
    return folder;
}

inline void RemoveScratchFolder() {
    if (!ScratchFolder().empty()) {
        ClearScratchFolder(ScratchFolder());
        rmdir(ScratchFolder().c_str());
    }
}

// Each fuzzing process (libFuzzer's -fork and -jobs start several) works in its own folder, in
// memory where /dev/shm exists: every input writes and rewrites small files.
inline void PrepareFuzzProcess() {
    g_pfnLog = QuietSink;
    g_pfnAlert = QuietSink;
    for (const char* base : {"/dev/shm", "/tmp"}) {
        std::string pattern = std::string(base) + "/dorvex-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            ScratchFolder() = pattern;
            std::atexit(RemoveScratchFolder);
            return;
        }
    }
    perror("no scratch folder");
    std::abort();
}

// DORVEX_FUZZ_STRICT=1 also stops at a repaired IFO that the program refuses to load again.
inline void RequireConsistent(const FuzzOutcome& outcome) {
    static const bool strict =
        getenv("DORVEX_FUZZ_STRICT") != nullptr && std::string(getenv("DORVEX_FUZZ_STRICT")) == "1";
    if (!outcome.consistent) {
        fprintf(stderr, "broken promise: %s\n", outcome.problem.c_str());
        std::abort();
    }
    if (strict && !outcome.reloadable) {
        fprintf(stderr, "not reloadable: %s\n", outcome.reloadProblem.c_str());
        std::abort();
    }
}

}  // namespace dorvex::testkit
