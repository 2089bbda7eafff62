#!/usr/bin/env bash
# In-place runs stopped at chosen points and then run again with the same command: the result
# must be byte for byte what an uninterrupted run gives (every VOB, IFO and BUP, VIDEO_TS.IFO),
# and the journal gone. A point is the n-th write, cut, rename or removal the run makes; strace
# stops the run there with SIGKILL or SIGINT, or makes that call fail with EIO.
#
# Scenarios: removals spread over a two-file title set (blank packs, the files numbered 1 and 3
# so the tidy step renames), removals at the start (no PGC plays VOB ID 1) and in the middle (a
# cell no PGC plays), the whole disc (menus, titles, VIDEO_TS), and dorvex-cli.
#
#   run-journal-kills.sh DORVEX DORVEX_CLI FIXTURE_FOLDER WORK_FOLDER [POINTS]
#
# POINTS per scenario and way of stopping (default 12): spread evenly over the run, each moved
# by a random amount (seeded, so a failure can be repeated). 100 is the full measurement.
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

DORVEX="$1"
CLI="$2"
FIXTURE="$3"
WORK="$4"
POINTS="${5:-12}"
CALLS=pwrite64,pwritev,pwritev2,ftruncate,rename,renameat,renameat2,unlink,unlinkat
RANDOM=19

require_fixture "$FIXTURE"
if ! command -v strace >/dev/null || ! strace -qq -o /dev/null true 2>/dev/null; then
    skip "strace cannot trace here: skipped"
fi

# scenario LABEL "DAMAGE KINDS" ARGS...: ARGS is the command, with DISC for the disc folder.
scenario() {
    local label="$1" kinds="$2"
    shift 2
    local dir="$WORK/$label"
    fresh_dir "$dir"
    cp -a "$FIXTURE" "$dir/input"
    for kind in $kinds; do
        python3 "$DAMAGE" "$dir/input" "$kind" >/dev/null || { fail "$label: damage $kind"; return; }
    done
    local cmd=("${@//DISC/$dir/t}")
    cp -a "$dir/input" "$dir/t"
    "${cmd[@]}" >/dev/null 2>"$dir/ref.err" || { fail "$label: the uninterrupted run failed"; return; }
    mv "$dir/t" "$dir/ref"

    # The run's calls in order: strace counts each kind of call on its own, so a point is
    # given to it as the k-th call of its kind.
    cp -a "$dir/input" "$dir/t"
    strace -f -qq -o "$dir/calls.txt" -e trace=$CALLS "${cmd[@]}" >/dev/null 2>&1
    rm -rf "$dir/t"
    local calls=()
    mapfile -t calls < <(sed -nE 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/p' "$dir/calls.txt")
    local total=${#calls[@]}
    if [ "$total" -lt 2 ]; then
        fail "$label: could not list the run's writes"
        return
    fi

    local how ok=0 tried=0
    for how in signal=KILL signal=INT error=EIO; do
        for ((i = 0; i < POINTS; i++)); do
            local n=$((1 + (i * total + RANDOM % total) / POINTS))
            ((n > total)) && n=$total
            local call=${calls[n - 1]} k=0 j
            for ((j = 0; j < n; j++)); do
                [ "${calls[j]}" = "$call" ] && k=$((k + 1))
            done
            cp -a "$dir/input" "$dir/t"
            # (the braces keep the shell's own "Killed" line out of the output)
            { strace -f -qq -o /dev/null -e trace=$CALLS -e inject=$call:$how:when=$k \
                "${cmd[@]}" >/dev/null 2>"$dir/stop.err"; } 2>/dev/null
            local stopped=$?
            # A run stopped with its journal left says how to finish it, on its last line (a
            # journal left empty, its making cut short, is dropped by the next run).
            if [ -n "$(find "$dir/t" -name '*.dorvex-journal' -size +0)" ]; then
                if [ $stopped -eq 0 ]; then
                    fail "$label: $how at $n: exit status 0 with a journal left"
                elif [ "$how" != signal=KILL ] && ! tail -n 1 "$dir/stop.err" | grep -q "run the same command again to finish it"; then
                    fail "$label: $how at $n: last line: $(tail -n 1 "$dir/stop.err")"
                fi
            fi
            # strace may return before the killed run's lock on the folder is released.
            local again tries=0
            while "${cmd[@]}" >/dev/null 2>"$dir/again.err"; again=$?; [ $again -ne 0 ] &&
                grep -q "^Another Dorvex run" "$dir/again.err" && ((tries++ < 50)); do
                sleep 0.1
            done
            tried=$((tried + 1))
            if [ $again -ne 0 ]; then
                fail "$label: $how at $n of $total ($call $k): the second run exited $again: $(tail -c 300 "$dir/again.err")"
            elif ! same_tree "$dir/ref" "$dir/t"; then
                fail "$label: $how at $n of $total ($call $k): differs: $(tree_differences "$dir/ref" "$dir/t")"
            else
                ok=$((ok + 1))
            fi
            rm -rf "$dir/t"
        done
    done
    echo "$label: $ok/$tried identical to the uninterrupted run ($total points in the run)"
}

fresh_dir "$WORK"
scenario spread "blank gap" "$DORVEX" -s -u -i -l "$WORK/run.log" DISC/VTS_01_1.VOB
scenario start "vob1 blank gap" "$DORVEX" -s -u -i -l "$WORK/run.log" DISC/VTS_01_1.VOB
scenario middle "unref gap" "$DORVEX" -s -u -i -l "$WORK/run.log" DISC/VTS_01_1.VOB
scenario disc "blank gap" "$DORVEX" -s -u -i -f -l "$WORK/run.log" DISC/VTS_01_1.VOB
scenario cli "blank gap" "$CLI" clean -q -u -i --log "$WORK/run.log" DISC/VTS_01_1.VOB

finish "all in-place runs finished byte for byte"
