#!/usr/bin/env bash
# Times dorvex against the operating system's own tools on the same files, in the same run,
# alternating, on a warm page cache:
#   in place, nothing to change      dorvex -s -i        vs  cat *.VOB > /dev/null
#   in place, every pack moving      dorvex -s -u -i     vs  cp of the files
#   from backup, every pack moving   dorvex -s -u        vs  cp of the files
# and reports each as a ratio of medians, with dorvex's CPU time per GiB and peak RSS; then runs
# the micro-benchmarks. The first lines name the build measured.
#
# --fs runs the same cases on each file system listed: `here` is the folder's own (the default),
# `ext4`, `xfs` and `btrfs` a loop image made for the run in the folder (sparse, sized for the
# data; root needed), unmounted and removed at the end. XFS (made with reflink) and btrfs share
# blocks on `cp`, so there `cp --reflink=never` is timed beside `cp`. --all-fs is
# --fs here,ext4,xfs,btrfs. A file system that the kernel or the tools lack is skipped with a
# message; the tools are installed from Debian only when a list asks for them.
#
#   bench/run-bench.sh [--files N] [--file-mib M] [--runs R] [--fs LIST | --all-fs] FOLDER
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FILES=4
FILE_MIB=1024
RUNS=3
FS_LIST=here
USAGE="usage: run-bench.sh [--files N] [--file-mib M] [--runs R] [--fs LIST | --all-fs] FOLDER"
while [ $# -gt 1 ]; do
    case "$1" in
        --files) FILES="$2"; shift 2 ;;
        --file-mib) FILE_MIB="$2"; shift 2 ;;
        --runs) RUNS="$2"; shift 2 ;;
        --fs) FS_LIST="$2"; shift 2 ;;
        --all-fs) FS_LIST=here,ext4,xfs,btrfs; shift ;;
        *) echo "unknown option $1" >&2; echo "$USAGE" >&2; exit 2 ;;
    esac
done
WORK="${1:?$USAGE}"
BUILD="$ROOT/build-bench"
IFS=, read -r -a FS_NAMES <<<"$FS_LIST"
for name in "${FS_NAMES[@]}"; do
    case "$name" in
        here|ext4|xfs|btrfs) ;;
        *) echo "unknown file system '$name' in --fs (here, ext4, xfs, btrfs)" >&2; exit 2 ;;
    esac
done

EXTRA_PACKAGES=()
case ",$FS_LIST," in *,xfs,*) EXTRA_PACKAGES+=(xfsprogs) ;; esac
case ",$FS_LIST," in *,btrfs,*) EXTRA_PACKAGES+=(btrfs-progs) ;; esac
# Package installation talks on stdout; the report's first lines are the build's.
bash "$ROOT/scripts/install-deps.sh" "${EXTRA_PACKAGES[@]}" >&2 ||
    echo "note: could not install ${EXTRA_PACKAGES[*]:-the dependencies}; going on" >&2
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVEX_BUILD_GUI=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target dorvex dorvex_bench dorvex_bench_gen >/dev/null
DORVEX="$BUILD/app/dorvex"
GEN="$BUILD/bench/dorvex_bench_gen"

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
COMPILER="$(cache_value CMAKE_CXX_COMPILER)"
echo "Build measured: $(git -C "$ROOT" describe --always --dirty) ($(git -C "$ROOT" rev-parse --abbrev-ref HEAD)), $(cache_value CMAKE_BUILD_TYPE) build in $BUILD, $("$COMPILER" --version | head -n 1)"
echo "Machine: $(uname -srm), $(nproc) CPUs, $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo) RAM, load average $(cut -d ' ' -f 1-3 /proc/loadavg) at the start, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Title set: $FILES x $FILE_MIB MiB, $RUNS runs; file systems: $FS_LIST"
echo

mkdir -p "$WORK"
WORK="$(cd "$WORK" && pwd)"
echo "Generating $FILES VOB files of $FILE_MIB MiB in $WORK (clean and with a removal near the start)"
"$GEN" "$WORK/clean" "$FILES" "$FILE_MIB" clean
"$GEN" "$WORK/dirty" "$FILES" "$FILE_MIB" dirty

# The loop images made for this run, undone on every way out.
MOUNTS=()
LOOPS=()
IMAGES=()
cleanup() {
    local i
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        # Lazily if a command cut short by Ctrl-C still holds it: it goes once that ends.
        umount "${MOUNTS[$i]}" 2>/dev/null || umount -l "${MOUNTS[$i]}" 2>/dev/null || true
    done
    for loop in "${LOOPS[@]}"; do losetup -d "$loop" 2>/dev/null || true; done
    for image in "${IMAGES[@]}"; do rm -f "$image"; done
    for mount in "${MOUNTS[@]}"; do rmdir "$mount" 2>/dev/null || true; done
    MOUNTS=() LOOPS=() IMAGES=()
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Why a file system cannot be measured here, or nothing.
missing_fs() {
    local name="$1" mkfs="mkfs.$1"
    if [ "$(id -u)" -ne 0 ]; then
        echo "mounting a loop image needs root"
    elif ! command -v "$mkfs" >/dev/null && ! PATH="$PATH:/sbin:/usr/sbin" command -v "$mkfs" >/dev/null; then
        echo "$mkfs is not installed"
    else
        if ! grep -qw "$name" /proc/filesystems; then
            modprobe -q "$name" 2>/dev/null || true
        fi
        if ! grep -qw "$name" /proc/filesystems; then
            echo "this kernel ($(uname -r)) has no $name"
        fi
    fi
}

# Makes a loop image of NAME in WORK big enough for the data and the copies each round makes
# (clean, dirty, the run's copy and its backup, the spare copy: five title sets) and mounts it
# at D. Direct I/O on the loop device keeps the image's blocks out of the page
# cache a second time, so the host file system's cache does not flatter the figures.
make_fs() {
    local name="$1" image="$WORK/$1.img" mount="$WORK/mnt-$1" loop
    local mib=$((FILES * FILE_MIB * 6 + 2048))
    rm -f "$image"
    truncate -s "${mib}M" "$image"
    IMAGES+=("$image")
    case "$name" in
        xfs) mkfs.xfs -q -f -m reflink=1 "$image" ;;
        btrfs) mkfs.btrfs -q -f "$image" >/dev/null ;;
        ext4) mkfs.ext4 -q -F "$image" ;;
    esac
    loop="$(losetup -f --show --direct-io=on "$image")"
    LOOPS+=("$loop")
    mkdir -p "$mount"
    mount "$loop" "$mount"
    MOUNTS+=("$mount")
    D="$mount"
}

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
# a moment ago, each command gets memory in the same state. (--reflink=never: a copy that only
# shares blocks would free no pages.)
before_read() {
    sync
    cat "$@" >/dev/null
}

before_write() {
    sync
    cat "$@" >/dev/null
    rm -rf "$D/spare"
    mkdir -p "$D/spare"
    cp --reflink=never "$D"/dirty/*.VOB "$D/spare/"
    rm -rf "$D/spare"
}

# The clean set is only needed by the first pair of each round. Left cached, it fills the page
# cache so far (24 GiB: clean, dirty, backup, output and the spare copy) that the writers that
# follow have to wait for reclaim, and whichever command happens to trigger it pays.
evict() {
    for f in "$@"; do
        dd if="$f" iflag=nocache count=0 status=none
    done
}

# measure KEY [--durable] COMMAND...: runs the command, adds its wall time in seconds to T[KEY]
# (with --durable until its writes are on disk, sync included) and its CPU time (user + system)
# and peak RSS to C[KEY] and R[KEY].
declare -A T C R
measure() {
    local key="$1" durable=0 start end usage
    shift
    if [ "$1" = --durable ]; then durable=1; shift; fi
    usage=$(mktemp)
    start=$(date +%s.%N)
    if ! /usr/bin/time -f '%U %S %M' -o "$usage" "$@" >/dev/null 2>&1; then
        echo "warning: failed: $*" >&2
    fi
    if [ "$durable" -eq 1 ]; then sync; fi
    end=$(date +%s.%N)
    T[$key]+="$(echo "$end - $start" | bc -l)"$'\n'
    C[$key]+="$(awk '{print $1 + $2}' "$usage")"$'\n'
    R[$key]+="$(awk '{print $3}' "$usage")"$'\n'
    rm -f "$usage"
}

# fresh_copy SUFFIX [--durable]: makes D/run from the dirty set with cp, timed as cp_SUFFIX; where
# cp shares blocks (REFLINK=1) it is timed again with --reflink=never (cpnr_SUFFIX), and that
# copy is the one dorvex runs on, as a title set copied from a disc would be.
fresh_copy() {
    rm -rf "$D/run"
    mkdir -p "$D/run"
    before_write "$D"/dirty/*.VOB
    measure "cp_$1" ${2:+"$2"} cp "$D"/dirty/* "$D/run/"
    if [ "$REFLINK" -eq 1 ]; then
        rm -rf "$D/run"
        mkdir -p "$D/run"
        before_write "$D"/dirty/*.VOB
        measure "cpnr_$1" ${2:+"$2"} cp --reflink=never "$D"/dirty/* "$D/run/"
    fi
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
stats() { sort -g | awk '{a[NR]=$1} END {printf "min %.3f  median %.3f  max %.3f", a[1], a[int((NR+1)/2)], a[NR]}'; }
ratio() { echo "scale=3; $(printf '%s' "${T[$1]}" | median) / $(printf '%s' "${T[$2]}" | median)" | bc -l; }
GIB=$(echo "scale=6; $FILES * $FILE_MIB / 1024" | bc -l)
cpu_per_gib() { printf '%.3f' "$(echo "$(printf '%s' "${C[$1]}" | median) / $GIB" | bc -l)"; }
peak_rss() { printf '%s' "${R[$1]}" | sort -g | tail -n 1; }

# The file system holding a folder and its mount options, for the report.
fs_of() { findmnt -n -o FSTYPE,OPTIONS --target "$1" | awk '{print $1 " (" $2 ")"}'; }

# The timed rounds on the title sets in D; LABEL names the file system in the report.
bench_here() {
    local label="$1" run key
    T=() C=() R=()
    for run in $(seq 1 "$RUNS"); do
        echo "[$label] run $run of $RUNS"
        before_read "$D"/clean/*.VOB
        measure cat sh -c "cat '$D'/clean/*.VOB > /dev/null"
        before_read "$D"/clean/*.VOB
        measure clean "$DORVEX" -s -i -l "$D/clean.log" "$D/clean/VTS_01_1.VOB"
        evict "$D"/clean/*.VOB

        fresh_copy inplace
        before_write "$D"/run/*.VOB
        measure inplace "$DORVEX" -s -u -i -l "$D/inplace.log" "$D/run/VTS_01_1.VOB"

        fresh_copy backup
        before_write "$D"/run/*.VOB
        measure backup "$DORVEX" -s -u -l "$D/backup.log" "$D/run/VTS_01_1.VOB"

        # Writing 4 GiB comes close to the kernel's dirty-page limits, where a writer is slowed
        # to the disk's pace or not depending on what else is in memory; timed up to the end of
        # the write-back both commands pay for the same disk writes.
        fresh_copy inplace_disk --durable
        before_write "$D"/run/*.VOB
        measure inplace_disk --durable "$DORVEX" -s -u -i -l "$D/inplace.log" "$D/run/VTS_01_1.VOB"
        fresh_copy backup_disk --durable
        before_write "$D"/run/*.VOB
        measure backup_disk --durable "$DORVEX" -s -u -l "$D/backup.log" "$D/run/VTS_01_1.VOB"
    done

    echo
    echo "== $label: $FILES x $FILE_MIB MiB, $RUNS runs, seconds"
    for key in cat clean cp_inplace cpnr_inplace inplace cp_backup cpnr_backup backup \
        cp_inplace_disk cpnr_inplace_disk inplace_disk cp_backup_disk cpnr_backup_disk backup_disk; do
        if [ -n "${T[$key]:-}" ]; then
            printf '  %-17s %s\n' "$key" "$(printf '%s' "${T[$key]}" | stats)"
        fi
    done
    echo "Ratios of medians (target <= 1.2):"
    echo "  in place, nothing to change / cat : $(ratio clean cat)"
    echo "  in place, every pack moving / cp  : $(ratio inplace cp_inplace)"
    echo "  from backup / cp                  : $(ratio backup cp_backup)"
    if [ "$REFLINK" -eq 1 ]; then
        echo "  in place / cp --reflink=never     : $(ratio inplace cpnr_inplace)"
        echo "  from backup / cp --reflink=never  : $(ratio backup cpnr_backup)"
    fi
    echo "Ratios of medians, until the data is on disk (sync included in both timings):"
    echo "  in place, every pack moving / cp  : $(ratio inplace_disk cp_inplace_disk)"
    echo "  from backup / cp                  : $(ratio backup_disk cp_backup_disk)"
    if [ "$REFLINK" -eq 1 ]; then
        echo "  in place / cp --reflink=never     : $(ratio inplace_disk cpnr_inplace_disk)"
        echo "  from backup / cp --reflink=never  : $(ratio backup_disk cpnr_backup_disk)"
    fi
    local cp_cpu
    cp_cpu="cp $(cpu_per_gib cp_backup)"
    if [ "$REFLINK" -eq 1 ]; then cp_cpu+=", cp --reflink=never $(cpu_per_gib cpnr_backup)"; fi
    echo "CPU time per GiB (median, user + system, s): dorvex clean $(cpu_per_gib clean), in place $(cpu_per_gib inplace), from backup $(cpu_per_gib backup); $cp_cpu"
    echo "Peak RSS of dorvex (target <= 65536 KiB): clean $(peak_rss clean) KiB, in place $(peak_rss inplace) KiB, from backup $(peak_rss backup) KiB"
    echo
    rm -rf "$D/run"
}

for name in "${FS_NAMES[@]}"; do
    if [ "$name" = here ]; then
        D="$WORK"
        REFLINK=0
        bench_here "here: $(fs_of "$WORK") at $WORK"
        continue
    fi
    reason="$(missing_fs "$name")"
    if [ -n "$reason" ]; then
        echo "== $name: skipped, $reason"
        echo
        continue
    fi
    make_fs "$name"
    cp -r --reflink=never "$WORK/clean" "$WORK/dirty" "$D/"
    REFLINK=0
    if [ "$name" != ext4 ]; then REFLINK=1; fi
    bench_here "$name: $(fs_of "$D") on a loop image"
    cleanup
done

"$BUILD/bench/dorvex_bench" --benchmark_min_time=0.2
