#!/usr/bin/env bash
# Cleans the interleaved-block fixtures (scripts/make-interleaved.py), damaged inside and outside
# their blocks (scripts/damage-interleaved.py), with removal on (-s -u), in place and from
# backup, with and without -a. Every result must
#   - hold in every navpack the ILVU and angle fields its own layout gives it (ilvucheck), or
#     with -a none at all (ilvucheck --cleared);
#   - pass dvdcheck against the damaged input (every pack that had to survive, byte for byte
#     outside the fields the cleaner rewrites);
#   - play every angle of every title to its end through libdvdnav, and again with the angle
#     changed after each VOBU of the block (dvdplay);
#   - check clean with dorvex-cli check (with -a: only ilvu-field findings, which -a asks for);
#   - be the same files in place as from backup.
# Then the results the previous build left (tests/realdvd/previous-build/*.fields: the ILVU and
# angle field bytes it wrote, spliced into this build's result of the same clean) must fail
# ilvucheck and dorvex-cli check with as many ilvu-field findings, and where the previous build
# broke playback dvdplay must fail as it did.
#
# By default the cases chosen to catch each fault run (CI); --full runs every fixture x damage x
# mode x -a.
#
#   ilvu-clean-cases.sh DORVEX DORVEX_CLI DVDCHECK ILVUCHECK DVDPLAY|none FIXTURES WORK [--full]
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

DORVEX="$1"
CLI="$2"
DVDCHECK="$3"
ILVUCHECK="$4"
DVDPLAY="$5"
FIXTURES="$6"
WORK="$7"
FULL="${8:-}"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ILVU_DAMAGE="$ROOT/scripts/damage-interleaved.py"
FIELDS="$ROOT/scripts/ilvu-fields.py"
[ -f "$FIXTURES/.stamp" ] || skip "no interleaved fixtures at $FIXTURES: skipped"
[ "$DVDPLAY" = none ] && echo "libdvdnav not found at build time: titles are not played"

cases=0

# clean FIXTURE DAMAGE MODE RESET: the result of cleaning a damaged copy, in $WORK/NAME/checked.
clean() {
    local fixture="$1" damage="$2" mode="$3" reset="$4"
    local name="$fixture-${damage//:/-}-$mode$([ "$reset" = a ] && echo -a)"
    local dir="$WORK/$name"
    fresh_dir "$dir"
    cp -a "$FIXTURES/$fixture/VIDEO_TS" "$dir/input"
    python3 "$ILVU_DAMAGE" "$dir/input" ${damage//:/ } >"$dir/damage.log" ||
        { fail "$name: damage"; return 1; }
    cp -a "$dir/input" "$dir/VIDEO_TS"
    local args=(-s -u)
    [ "$mode" = inplace ] && args+=(-i)
    [ "$reset" = a ] && args+=(-a)
    "$DORVEX" "${args[@]}" -l "$dir/dorvex.log" "$dir/VIDEO_TS/VTS_01_1.VOB" >"$dir/stdout" \
        2>"$dir/stderr" || { fail "$name: dorvex exited $?"; return 1; }
    [ -s "$dir/stderr" ] && fail "$name: alerts: $(head -c 300 "$dir/stderr")"
    fresh_dir "$dir/checked"
    cp -a "$dir/VIDEO_TS" "$dir/checked/VIDEO_TS"
    rm -rf "$dir/checked/VIDEO_TS/DorvexBackup"
    return 0
}

# expect NAME STATUS PATTERN LOG COMMAND...: COMMAND exits STATUS and prints PATTERN.
expect() {
    local name="$1" status="$2" pattern="$3" log="$4"
    shift 4
    "$@" >"$log" 2>&1
    local got=$?
    if [ $got -ne "$status" ] || ! grep -E -q "$pattern" "$log"; then
        fail "$name: $(basename "$1") exited $got, expected $status with /$pattern/: $(grep -m 3 -E "FAIL|finding" "$log" | tr '\n' ' ')"
    fi
}

# run_case FIXTURE DAMAGE MODE RESET
run_case() {
    local fixture="$1" damage="$2" mode="$3" reset="$4"
    local name="$fixture-${damage//:/-}-$mode$([ "$reset" = a ] && echo -a)"
    local dir="$WORK/$name" folder="$WORK/$name/checked/VIDEO_TS"
    cases=$((cases + 1))
    clean "$@" || return
    if [ "$reset" = a ]; then
        expect "$name" 0 ": 0 mismatch" "$dir/ilvu.log" "$ILVUCHECK" "$folder" --cleared
        expect "$name" 0 "" "$dir/check.log" "$DVDCHECK" "$folder" --before "$dir/input" --removed --ilvu-cleared
        "$CLI" check "$folder" >"$dir/cli.log" 2>&1
        if grep -E "^  [a-z-]+:" "$dir/cli.log" | grep -v -q "^  ilvu-field:"; then
            fail "$name: check: $(grep -E "^  [a-z-]+:" "$dir/cli.log" | grep -v -m 2 "^  ilvu-field:" | tr '\n' ' ')"
        fi
    else
        expect "$name" 0 ": 0 mismatch" "$dir/ilvu.log" "$ILVUCHECK" "$folder"
        expect "$name" 0 "" "$dir/check.log" "$DVDCHECK" "$folder" --before "$dir/input" --removed
        expect "$name" 0 "^no findings" "$dir/cli.log" "$CLI" check "$folder"
    fi
    if [ "$DVDPLAY" != none ]; then
        expect "$name" 0 "played to its end" "$dir/play.log" "$DVDPLAY" "$folder" --seconds 60
    fi
    local other="$WORK/$fixture-${damage//:/-}-backup$([ "$reset" = a ] && echo -a)/checked"
    if [ "$mode" = inplace ] && [ -d "$other" ] && ! same_tree "$other" "$dir/checked"; then
        fail "$name: in place and from backup differ ($(tree_differences "$other" "$dir/checked"))"
    fi
}

# previous DATA: the previous build's result of the clean DATA names, rebuilt from this one's.
previous() {
    local data="$1" name
    name="$(basename "$data" .fields)"
    cases=$((cases + 1))
    read -r fixture damage mode reset play <<<"$(sed -n 's/^# case: //p' "$data")"
    clean "$fixture" "$damage" "$mode" "$reset" || return
    local dir="$WORK/$fixture-${damage//:/-}-$mode$([ "$reset" = a ] && echo -a)"
    local folder="$dir/checked/VIDEO_TS"
    python3 "$FIELDS" apply "$data" "$folder" || { fail "$name: apply"; return; }
    local lines
    lines="$(grep -c -v '^#' "$data")"
    expect "previous $name" 1 ": [1-9][0-9]* mismatch" "$dir/ilvu.log" "$ILVUCHECK" "$folder"
    local mismatches findings
    mismatches="$(sed -n 's/.*title set(s), \([0-9]*\) mismatch.*/\1/p' "$dir/ilvu.log")"
    expect "previous $name" 1 "ilvu-field" "$dir/cli.log" "$CLI" check "$folder"
    findings="$(sed -n 's/^VTS_01: \([0-9]*\) finding.*/\1/p' "$dir/cli.log")"
    [ "$findings" = "$mismatches" ] ||
        fail "previous $name: check gives $findings findings, ilvucheck $mismatches mismatches ($lines navpacks)"
    if [ "$DVDPLAY" != none ] && [ "$play" != plays ]; then
        expect "previous $name" 1 "FAIL: .*$play" "$dir/play.log" "$DVDPLAY" "$folder" --seconds 60
    fi
}

fresh_dir "$WORK"
if [ "$FULL" = --full ]; then
    for fixture in angle2 angle9 branch; do
        case "$fixture" in
            angle2) damages="blank-ilvu:1 blank-ilvu:2 blank-ilvu-end:1 blank-ilvu-end:2 unref:1 unref:2 blank-before" ;;
            angle9) damages="blank-ilvu:1 blank-ilvu:5 blank-ilvu:9 blank-ilvu-end:1 blank-ilvu-end:9 unref:1 unref:2 unref:9 blank-before" ;;
            branch) damages="blank-ilvu:1 blank-ilvu:2 blank-ilvu-end:1 blank-ilvu-end:2 unref:1 unref:2 blank-before" ;;
        esac
        for damage in $damages; do
            for reset in no a; do
                run_case "$fixture" "$damage" backup "$reset"
                run_case "$fixture" "$damage" inplace "$reset"
            done
        done
    done
else
    # Each moves other fields: ILVU_EA and SML_AGLI sizes of angle 2's first ILVU and addresses
    # across it, in both modes (and the VOB split inside angle 2's ILVU); an ILVU's last pack; a
    # 2-angle block left with one angle (both tables cleared); the 9 angles numbered again after
    # angle 2 left the block, whose NSML_AGLI point backwards too; a branch cell dropped; a
    # removal before the block only; -a in both modes.
    while read -r fixture damage mode reset; do
        run_case "$fixture" "$damage" "$mode" "$reset"
    done <<'CASES'
angle2 blank-ilvu:2 backup no
angle2 blank-ilvu:2 inplace no
angle2 blank-ilvu-end:1 backup no
angle2 unref:2 inplace no
angle9 blank-ilvu:5 backup no
angle9 unref:2 backup no
angle9 unref:2 inplace no
branch unref:1 inplace no
branch blank-ilvu-end:2 backup no
angle9 blank-before inplace no
angle2 blank-ilvu:1 backup a
angle2 blank-ilvu:1 inplace a
CASES
fi
for data in "$HERE"/previous-build/*.fields; do
    previous "$data"
done

finish "$cases cases passed"
