#!/usr/bin/env bash
# Builds Dorvex and runs the whole test suite, then the unit tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer, and fuzzes each libFuzzer target for a minute.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"

bash "$ROOT/scripts/install-deps.sh"

cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDORVEX_WERROR=ON
cmake --build "$ROOT/build" -j "$JOBS"
ctest --test-dir "$ROOT/build" --output-on-failure -j "$JOBS"

cmake -S "$ROOT" -B "$ROOT/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDORVEX_WERROR=ON \
    -DDORVEX_SANITIZE=ON -DDORVEX_BUILD_BENCH=OFF
cmake --build "$ROOT/build-asan" -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$ROOT/build-asan" --output-on-failure -j "$JOBS" -L unit

# A minute of fuzzing per target (clang's libFuzzer) on the seeds and the earlier findings.
bash "$ROOT/scripts/fuzz.sh" 60
