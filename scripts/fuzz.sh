#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a build folder of their own and runs each for SECONDS
# (default 60) on its corpus: seeds written from the test builders and the real authored DVDs,
# the inputs of earlier findings, and whatever earlier runs in the same folder kept.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      targets: fuzz_ifo_vts fuzz_ifo_vmg fuzz_vob_pass
# Environment: FUZZ_FORK=N runs N worker processes per target; FUZZ_BUILD sets the build folder
# (default build-fuzz); FUZZ_FIXTURES the real DVD folder (default build/fixtures, authored when
# missing); DORVEX_FUZZ_STRICT=1 also stops at a repaired IFO that does not load again.
# Exits non-zero when a target crashes, leaks, hangs or breaks a promise; the input that did it
# is kept in FUZZ_BUILD/artifacts/TARGET/ and the log in FUZZ_BUILD/logs/TARGET.log.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_PER_TARGET="${1:-60}"
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    TARGETS=(fuzz_ifo_vts fuzz_ifo_vmg fuzz_vob_pass)
fi
BUILD="${FUZZ_BUILD:-$ROOT/build-fuzz}"

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DDORVEX_WERROR=ON -DDORVEX_BUILD_FUZZ=ON \
    -DDORVEX_BUILD_GUI=OFF -DDORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target fuzz_seeds "${TARGETS[@]}"

# Real authored DVDs make the best seeds; without ffmpeg or dvdauthor the builder seeds remain.
# The folder the real-DVD tests author is cached by its script, so CI authors it only once.
FIXTURES="${FUZZ_FIXTURES:-$ROOT/build/fixtures}"
if ! bash "$ROOT/scripts/make-fixtures.sh" "$FIXTURES"; then
    echo "fuzz: no real DVD fixtures, seeding from the test builders only"
    FIXTURES=""
fi
"$BUILD/tests/fuzz/fuzz_seeds" "$BUILD/corpus" ${FIXTURES:+"$FIXTURES"}

mkdir -p "$BUILD/logs"
failed=0
for target in "${TARGETS[@]}"; do
    case "$target" in
        fuzz_vob_pass) max_len=$((16 + 45 + 64 * 2048)) ;;  # control, patches, 64 packs
        *) max_len=$((8 + 96 * 1024)) ;;                      # control, image
    esac
    corpora=("$BUILD/corpus/$target")
    if [ -d "$ROOT/tests/fuzz/regressions/$target" ]; then
        corpora+=("$ROOT/tests/fuzz/regressions/$target")
    fi
    mkdir -p "$BUILD/artifacts/$target"
    log="$BUILD/logs/$target.log"
    args=(-max_total_time="$SECONDS_PER_TARGET" -max_len="$max_len" -timeout=25
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$target/")
    if [ -n "${FUZZ_FORK:-}" ]; then
        args+=(-fork="$FUZZ_FORK")
    fi
    started=$(date +%s)
    rc=0
    "$BUILD/tests/fuzz/$target" "${args[@]}" "${corpora[@]}" >"$log" 2>&1 || rc=$?
    elapsed=$(($(date +%s) - started))
    # Plain runs print the final stats; fork runs print a status line per job round.
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
    if [ -z "$runs" ]; then
        runs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#' || true)
    fi
    echo "fuzz: $target: ${runs:-?} executions in ${elapsed}s, exit $rc"
    if [ "$rc" -ne 0 ]; then
        failed=1
        grep -E 'ERROR|SUMMARY|broken promise|not reloadable|runtime error|Test unit written' "$log" |
            head -20 || true
        echo "fuzz: $target failed; log in $log, input in $BUILD/artifacts/$target/"
    fi
done
exit "$failed"
