#!/usr/bin/env bash
# Faults and interruptions on a real authored disc, with the headless dorvex binary:
#   - killed (SIGKILL) at random moments of runs from backup, then the same command again: every
#     original file is at every moment in place or in the backup folder, byte for byte, the
#     retry never puts anything else there, and Restore Backup brings back the input exactly;
#   - a disk that fills up during the run, a read-only folder, a backup folder that cannot be
#     made: a message naming the file and the reason, exit status 1, the input unchanged (after
#     the automatic restore);
#   - paths with spaces, quotes, "%", "$", non-ASCII characters and long names.
# The disk cases mount small tmpfs filesystems and need root; without it they are skipped.
#
#   run-faults.sh DORVEX DVDRESTORE FIXTURE_FOLDER WORK_FOLDER [KILLS]
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

DORVEX="$1"
DVDRESTORE="$2"
FIXTURE="$3"
WORK="$4"
KILLS="${5:-40}"
require_fixture "$FIXTURE"

mounts=()
cleanup() {
    for m in "${mounts[@]}"; do
        umount "$m" 2>/dev/null
    done
}
trap cleanup EXIT

# A small tmpfs at FOLDER of SIZE kilobytes; false when this machine does not allow it.
mount_tmpfs() {
    mkdir -p "$1"
    if mount -t tmpfs -o "size=${2}k" tmpfs "$1" 2>/dev/null; then
        mounts+=("$1")
        return 0
    fi
    return 1
}

# Damaged input: blank packs (removed with -u, so every later pack moves) and the title VOB
# split in two files numbered 1 and 3 (renamed by the run).
fresh_dir "$WORK"
INPUT="$WORK/input"
cp -a "$FIXTURE" "$INPUT"
python3 "$DAMAGE" "$INPUT" blank >/dev/null && python3 "$DAMAGE" "$INPUT" gap >/dev/null ||
    { echo "damage failed"; exit 1; }

# Every original file is in place or in the backup folder, byte for byte.
originals_safe() {
    local dir="$1" f name
    for f in "$INPUT"/*; do
        name="$(basename "$f")"
        cmp -s "$f" "$dir/$name" || cmp -s "$f" "$dir/DorvexBackup/$name" || {
            echo "$name"
            return 1
        }
    done
}

same_as_input() {
    diff -r -q -x DorvexBackup "$INPUT" "$1" >/dev/null
}

now_ms() {
    date +%s%3N
}

# ---- Killed at random moments ----
kill_runs() {
    local label="$1"
    shift
    local dir="$WORK/kill/VIDEO_TS"
    mkdir -p "$WORK/kill"
    # How long a whole run takes, to spread the kills over it.
    rm -rf "$dir"
    cp -a "$INPUT" "$dir"
    local start
    start=$(now_ms)
    "$DORVEX" -s "$@" -l "$WORK/kill/run.log" "$dir/VTS_01_1.VOB" >/dev/null 2>&1
    local span=$(($(now_ms) - start + 20))
    local i delay pid lost completed=0
    for i in $(seq 1 "$KILLS"); do
        rm -rf "$dir"
        cp -a "$INPUT" "$dir"
        delay=$((RANDOM % span))
        "$DORVEX" -s "$@" -l "$WORK/kill/run.log" "$dir/VTS_01_1.VOB" >/dev/null 2>&1 &
        pid=$!
        sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
        kill -9 "$pid" 2>/dev/null || completed=$((completed + 1))
        wait "$pid" 2>/dev/null
        if ! lost="$(originals_safe "$dir")"; then
            fail "$label: killed after ${delay} ms: original $lost is neither in place nor in the backup"
            continue
        fi
        # The natural retry: the same command again. It either finds nothing of an earlier run
        # and cleans, or refuses (exit 1) because the backup holds the originals.
        "$DORVEX" -s "$@" -l "$WORK/kill/retry.log" "$dir/VTS_01_1.VOB" >/dev/null 2>"$WORK/kill/retry.err"
        status=$?
        if [ $status -ne 0 ] && ! grep -q "already holds .* from an earlier run" "$WORK/kill/retry.err"; then
            fail "$label: killed after ${delay} ms: the retry exited $status: $(head -c 300 "$WORK/kill/retry.err")"
        fi
        if ! lost="$(originals_safe "$dir")"; then
            fail "$label: killed after ${delay} ms, then retried: original $lost is lost"
            continue
        fi
        "$DVDRESTORE" "$dir" >/dev/null
        if ! same_tree "$INPUT" "$dir"; then
            fail "$label: killed after ${delay} ms: restore differs: $(tree_differences "$INPUT" "$dir")"
        fi
    done
    echo "$label: $KILLS kills over ${span} ms ($completed after the run had ended)"
}

kill_runs "from backup -u" -u
kill_runs "from backup -u -f" -u -f
kill_runs "from backup" 

# ---- Disk full ----
if mount_tmpfs "$WORK/full" 64; then
    umount "$WORK/full"
    input_kb=$(du -sk "$INPUT" | cut -f1)
    vob_kb=$(du -k "$INPUT/VTS_01_1.VOB" | cut -f1)
    # Room for the input and half the title VOB's output: the pass runs out of space.
    mount_tmpfs "$WORK/full" $((input_kb + vob_kb / 2))
    cp -a "$INPUT" "$WORK/full/VIDEO_TS"
    "$DORVEX" -s -u -l "$WORK/full.log" "$WORK/full/VIDEO_TS/VTS_01_1.VOB" >"$WORK/full.out" 2>"$WORK/full.err"
    status=$?
    [ $status -eq 1 ] || fail "disk full: exit status $status"
    grep -q "Couldn't write $WORK/full/VIDEO_TS/VTS_01_1.VOB: No space left on device" "$WORK/full.err" ||
        fail "disk full: message: $(head -c 300 "$WORK/full.err")"
    same_as_input "$WORK/full/VIDEO_TS" || fail "disk full: input not back in place"
    echo "disk full: $(head -1 "$WORK/full.err")"

    # ---- Read-only folder ----
    mount_tmpfs "$WORK/ro" $((input_kb * 2))
    cp -a "$INPUT" "$WORK/ro/VIDEO_TS"
    mount -o remount,ro "$WORK/ro"
    "$DORVEX" -s -u -l "$WORK/ro.log" "$WORK/ro/VIDEO_TS/VTS_01_1.VOB" >/dev/null 2>"$WORK/ro.err"
    status=$?
    [ $status -eq 1 ] || fail "read-only, from backup: exit status $status"
    grep -q "Couldn't create backup folder $WORK/ro/VIDEO_TS/DorvexBackup/: Read-only file system" "$WORK/ro.err" ||
        fail "read-only, from backup: message: $(head -c 300 "$WORK/ro.err")"
    echo "read-only, from backup: $(head -1 "$WORK/ro.err")"
    "$DORVEX" -s -u -i -l "$WORK/ro.log" "$WORK/ro/VIDEO_TS/VTS_01_1.VOB" >/dev/null 2>"$WORK/ro.err"
    status=$?
    [ $status -eq 1 ] || fail "read-only, in place: exit status $status"
    grep -q "Couldn't open $WORK/ro/VIDEO_TS/VTS_01_1.VOB for read/write" "$WORK/ro.err" ||
        fail "read-only, in place: message: $(head -c 300 "$WORK/ro.err")"
    same_as_input "$WORK/ro/VIDEO_TS" || fail "read-only: input changed"
    echo "read-only, in place: $(head -1 "$WORK/ro.err")"
else
    echo "tmpfs cannot be mounted here (not root?): disk-full and read-only cases skipped"
fi

# ---- A backup folder that cannot be made ----
dir="$WORK/nobackup/VIDEO_TS"
mkdir -p "$dir"
cp -a "$INPUT"/. "$dir"
echo "not a folder" >"$dir/DorvexBackup"
"$DORVEX" -s -u -l "$WORK/nobackup.log" "$dir/VTS_01_1.VOB" >/dev/null 2>"$WORK/nobackup.err"
status=$?
[ $status -eq 1 ] || fail "backup folder: exit status $status"
grep -q "$dir/DorvexBackup is not a folder of its own" "$WORK/nobackup.err" ||
    fail "backup folder: message: $(head -c 300 "$WORK/nobackup.err")"
same_as_input "$dir" || fail "backup folder: input changed"

# ---- Awkward paths ----
long="$(printf 'long-name-%.0s' $(seq 1 22))"
for mode in backup inplace; do
    parent="$WORK/paths-$mode/My DVD 100% \"cut\" \$(x) %s %n ünïcødé ✓/$long"
    dir="$parent/VIDEO_TS"
    mkdir -p "$parent"
    cp -a "$INPUT" "$dir"
    args=(-u)
    [ $mode = inplace ] && args+=(-i)
    "$DORVEX" -s "${args[@]}" -l "$parent/dorvex log %s.txt" "$dir/VTS_01_1.VOB" >/dev/null 2>"$WORK/paths.err"
    status=$?
    [ $status -eq 0 ] && [ ! -s "$WORK/paths.err" ] ||
        fail "paths ($mode): exit $status: $(head -c 300 "$WORK/paths.err")"
    grep -q -F "Processing $dir/VTS_01_1.VOB" "$parent/dorvex log %s.txt" ||
        fail "paths ($mode): the log does not name the VOB as it is"
    if [ $mode = backup ]; then
        [ -f "$dir/DorvexBackup/VTS_01_0.IFO" ] || fail "paths: no backup copy of the IFO"
        "$DVDRESTORE" "$dir" >/dev/null
        same_tree "$INPUT" "$dir" || fail "paths: restore differs"
    fi
done
echo "awkward paths: ${#dir} characters"

finish
