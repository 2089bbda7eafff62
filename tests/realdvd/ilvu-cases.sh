#!/usr/bin/env bash
# The interleaved-block fixtures (scripts/make-interleaved.py) as authored: every one must pass
# the checker (dvdcheck), hold in every navpack the ILVU and angle fields its layout gives it
# (ilvucheck), and play through libdvdnav in every angle and with the angle changed after each
# VOBU of the block (dvdplay). Then each damage of scripts/damage-interleaved.py must leave the
# mark it promises, so that the cleaning cases built on them start from real damage.
#
#   ilvu-cases.sh DVDCHECK ILVUCHECK DVDPLAY|none FIXTURES WORK
set -uo pipefail

DVDCHECK="$1"
ILVUCHECK="$2"
DVDPLAY="$3"
FIXTURES="$4"
WORK="$5"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
DAMAGE="$HERE/../../scripts/damage-interleaved.py"

if [ ! -f "$FIXTURES/.stamp" ]; then
    echo "no interleaved fixtures at $FIXTURES: skipped"
    exit 77
fi
[ "$DVDPLAY" = none ] && echo "libdvdnav not found at build time: titles are not played"

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# expect NAME TOOL STATUS PATTERN FOLDER: TOOL on FOLDER exits STATUS and prints PATTERN.
expect() {
    local name="$1" tool="$2" status="$3" pattern="$4" folder="$5" log
    log="$WORK/$name.$(basename "$tool").log"
    "$tool" "$folder" >"$log" 2>/dev/null
    local got=$?
    if [ $got -ne "$status" ] || ! grep -E -q "$pattern" "$log"; then
        fail "$name: $(basename "$tool") exited $got, expected $status with /$pattern/: $(grep -m 3 FAIL "$log" | tr '\n' ' ')"
    fi
}

rm -rf "$WORK"
mkdir -p "$WORK"
for fixture in angle2 angle9 branch; do
    folder="$FIXTURES/$fixture/VIDEO_TS"
    expect "$fixture" "$DVDCHECK" 0 ": 0 finding" "$folder"
    expect "$fixture" "$ILVUCHECK" 0 ": 1 title set\(s\), 0 mismatch" "$folder"
done
if [ "$DVDPLAY" != none ]; then
    expect angle2 "$DVDPLAY" 0 "title 1: 12 of 12 angle changes" "$FIXTURES/angle2/VIDEO_TS"
    expect angle9 "$DVDPLAY" 0 "title 1: 9 of 9 angle changes" "$FIXTURES/angle9/VIDEO_TS"
    expect branch "$DVDPLAY" 0 "title 2: played to its end" "$FIXTURES/branch/VIDEO_TS"
fi

# fixture, damage (with its argument), checker, its exit status, what it must print
while read -r fixture damage tool status pattern; do
    name="$fixture-${damage//:/-}-$(basename "$tool")"
    rm -rf "$WORK/$name"
    mkdir -p "$WORK/$name"
    cp -a "$FIXTURES/$fixture/VIDEO_TS" "$WORK/$name/VIDEO_TS"
    python3 "$DAMAGE" "$WORK/$name/VIDEO_TS" ${damage//:/ } >"$WORK/$name.damage.log" ||
        { fail "$name: damage"; continue; }
    case "$tool" in
        dvdcheck) tool="$DVDCHECK" ;;
        ilvucheck) tool="$ILVUCHECK" ;;
        dvdplay) [ "$DVDPLAY" = none ] && continue; tool="$DVDPLAY" ;;
    esac
    expect "$name" "$tool" "$status" "$pattern" "$WORK/$name/VIDEO_TS"
done <<'CASES'
angle2 blank-ilvu dvdcheck 1 sectors are not MPEG-2 packs, the first at 18[0-9]
angle2 blank-ilvu dvdplay 0 12 of 12 angle changes
angle2 blank-ilvu:2 dvdcheck 1 sectors are not MPEG-2 packs, the first at 2[01][0-9]
angle2 blank-ilvu-end ilvucheck 0 0 mismatch
angle2 blank-ilvu-end dvdcheck 1 not MPEG-2 packs, the first at 246
angle2 blank-before ilvucheck 0 0 mismatch
angle2 unref dvdcheck 1 cell 3/1 .* is played by no PGC
angle2 unref ilvucheck 1 cell 2/1\): SML_AGLI\[1\] address: expected 00000000
angle9 unref ilvucheck 1 NSML_AGLI\[2\]: expected
angle9 unref dvdplay 1 FAIL: title 1 angle [2-8]: 
branch unref dvdcheck 0 cell 3/1 .* is played by no PGC
branch unref dvdplay 0 title 2: played to its end \(2 cells entered
CASES

echo "$failures failed"
[ $failures -eq 0 ]
