#!/usr/bin/env bash
# Times dorvex against the operating system's own tools on the same files, in the same run,
# alternating, on a warm page cache:
#   in place, nothing to change      dorvex -s -i        vs  cat *.VOB > /dev/null
#   in place, every pack moving      dorvex -s -u -i     vs  cp of the files
#   from backup, every pack moving   dorvex -s -u        vs  cp of the files
# and reports each as a ratio of medians, with dorvex's peak RSS; then runs the micro-benchmarks.
#
#   bench/run-bench.sh [--files N] [--file-mib M] [--runs R] FOLDER
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FILES=4
FILE_MIB=1024
RUNS=3
while [ $# -gt 1 ]; do
    case "$1" in
        --files) FILES="$2"; shift 2 ;;
        --file-mib) FILE_MIB="$2"; shift 2 ;;
        --runs) RUNS="$2"; shift 2 ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
WORK="${1:?usage: run-bench.sh [--files N] [--file-mib M] [--runs R] FOLDER}"
BUILD="$ROOT/build-bench"

bash "$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVEX_BUILD_GUI=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target dorvex dorvex_bench dorvex_bench_gen >/dev/null
DORVEX="$BUILD/app/dorvex"
GEN="$BUILD/bench/dorvex_bench_gen"

mkdir -p "$WORK"
WORK="$(cd "$WORK" && pwd)"
echo "Generating $FILES VOB files of $FILE_MIB MiB in $WORK (clean and with a removal near the start)"
"$GEN" "$WORK/clean" "$FILES" "$FILE_MIB" clean
"$GEN" "$WORK/dirty" "$FILES" "$FILE_MIB" dirty

# Run right before each timed command. Both write back what earlier commands left dirty, so
# that each command pays only for its own writes, and make sure the command's input is in the
# page cache (warm, as the targets are stated).
#
# before_write also frees, just before a writer starts, as many page-cache pages as it will
# fill, by copying the dirty set aside and deleting the copy. On a virtual machine whose host
# takes back the memory the guest has freed for a few seconds (free page reporting, as on the
# machine the figures come from), the first write to such a page is several times slower, and
# the same `cp` of 4 GiB took from 1.0 to 7.8 s depending on how long ago its pages had been
# freed; dropping the page cache before each command made that worse. Writing into pages freed
# a moment ago, each command gets memory in the same state.
before_read() {
    sync
    cat "$@" >/dev/null
}

before_write() {
    sync
    cat "$@" >/dev/null
    rm -rf "$WORK/spare"
    mkdir -p "$WORK/spare"
    cp "$WORK"/dirty/*.VOB "$WORK/spare/"
    rm -rf "$WORK/spare"
}

# The clean set is only needed by the first pair of each round. Left cached, it fills the page
# cache so far (24 GiB: clean, dirty, backup, output and the spare copy) that the writers that
# follow have to wait for reclaim, and whichever command happens to trigger it pays.
evict() {
    for f in "$@"; do
        dd if="$f" iflag=nocache count=0 status=none
    done
}

seconds() {  # runs a command, prints its wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

durable_seconds() {  # the same, until the command's writes are on disk (sync included)
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    sync
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

rss_kib() {  # runs a command under /usr/bin/time, prints its peak RSS in KiB
    local out
    out=$(mktemp)
    /usr/bin/time -v -o "$out" "$@" >/dev/null 2>&1 || true
    awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$out"
    rm -f "$out"
}

fresh_copy() {  # prints the time cp takes to make WORK/run from the dirty set [durable]
    rm -rf "$WORK/run"
    mkdir -p "$WORK/run"
    before_write "$WORK"/dirty/*.VOB
    ${1:-seconds} cp "$WORK"/dirty/* "$WORK/run/"
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
stats() { sort -g | awk '{a[NR]=$1} END {printf "min %.3f  median %.3f  max %.3f", a[1], a[int((NR+1)/2)], a[NR]}'; }

declare -A T
for run in $(seq 1 "$RUNS"); do
    echo "run $run of $RUNS"
    before_read "$WORK"/clean/*.VOB
    T[cat]+="$(seconds sh -c "cat '$WORK'/clean/*.VOB > /dev/null")"$'\n'
    before_read "$WORK"/clean/*.VOB
    T[clean]+="$(seconds "$DORVEX" -s -i -l "$WORK/clean.log" "$WORK/clean/VTS_01_1.VOB")"$'\n'
    evict "$WORK"/clean/*.VOB

    T[cp_inplace]+="$(fresh_copy)"$'\n'
    before_write "$WORK"/run/*.VOB
    T[inplace]+="$(seconds "$DORVEX" -s -u -i -l "$WORK/inplace.log" "$WORK/run/VTS_01_1.VOB")"$'\n'

    T[cp_backup]+="$(fresh_copy)"$'\n'
    before_write "$WORK"/run/*.VOB
    T[backup]+="$(seconds "$DORVEX" -s -u -l "$WORK/backup.log" "$WORK/run/VTS_01_1.VOB")"$'\n'

    # Writing 4 GiB comes close to the kernel's dirty-page limits, where a writer is slowed to
    # the disk's pace or not depending on what else is in memory; timed up to the end of the
    # write-back both commands pay for the same disk writes.
    T[cp_inplace_disk]+="$(fresh_copy durable_seconds)"$'\n'
    before_write "$WORK"/run/*.VOB
    T[inplace_disk]+="$(durable_seconds "$DORVEX" -s -u -i -l "$WORK/inplace.log" "$WORK/run/VTS_01_1.VOB")"$'\n'
    T[cp_backup_disk]+="$(fresh_copy durable_seconds)"$'\n'
    before_write "$WORK"/run/*.VOB
    T[backup_disk]+="$(durable_seconds "$DORVEX" -s -u -l "$WORK/backup.log" "$WORK/run/VTS_01_1.VOB")"$'\n'
done

ratio() { echo "scale=3; $(printf '%s' "${T[$1]}" | median) / $(printf '%s' "${T[$2]}" | median)" | bc -l; }

fresh_copy >/dev/null
RSS_INPLACE=$(rss_kib "$DORVEX" -s -u -i -l "$WORK/rss.log" "$WORK/run/VTS_01_1.VOB")
fresh_copy >/dev/null
RSS_BACKUP=$(rss_kib "$DORVEX" -s -u -l "$WORK/rss.log" "$WORK/run/VTS_01_1.VOB")
RSS_CLEAN=$(rss_kib "$DORVEX" -s -i -l "$WORK/rss.log" "$WORK/clean/VTS_01_1.VOB")

echo
echo "Title set: $FILES x $FILE_MIB MiB, $RUNS runs, seconds"
for key in cat clean cp_inplace inplace cp_backup backup cp_inplace_disk inplace_disk \
    cp_backup_disk backup_disk; do
    printf '  %-11s %s\n' "$key" "$(printf '%s' "${T[$key]}" | stats)"
done
echo "Ratios of medians (target <= 1.2):"
echo "  in place, nothing to change / cat : $(ratio clean cat)"
echo "  in place, every pack moving / cp  : $(ratio inplace cp_inplace)"
echo "  from backup / cp                  : $(ratio backup cp_backup)"
echo "Ratios of medians, until the data is on disk (sync included in both timings):"
echo "  in place, every pack moving / cp  : $(ratio inplace_disk cp_inplace_disk)"
echo "  from backup / cp                  : $(ratio backup_disk cp_backup_disk)"
echo "Peak RSS of dorvex (target <= 65536 KiB): clean $RSS_CLEAN KiB, in place $RSS_INPLACE KiB, from backup $RSS_BACKUP KiB"
echo
"$BUILD/bench/dorvex_bench" --benchmark_min_time=0.2
rm -rf "$WORK/run"
