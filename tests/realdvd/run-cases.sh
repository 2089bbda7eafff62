#!/usr/bin/env bash
# Runs dorvex on real authored DVD folders, damaged in each way the tool exists to fix, in every
# mode, and checks each result with the independent libdvdread checker. From backup it also puts
# the backup back the way the program's restore does and compares with the damaged input.
#
# Results cleaned with removal on are also played: every title to its end through libdvdnav
# (dvdplay), and in mpv for a few seconds, failing on the first navigation error.
#
#   run-cases.sh DORVEX DVDCHECK DVDRESTORE DVDPLAY|none FIXTURE_FOLDER WORK_FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

DORVEX="$1"
DVDCHECK="$2"
DVDRESTORE="$3"
DVDPLAY="$4"
FIXTURE="$5"
WORK="$6"
MPV="$(command -v mpv || true)"
[ "$DVDPLAY" = none ] && echo "libdvdnav not found at build time: titles are not played"
[ -z "$MPV" ] && echo "mpv not found: no mpv playback (scripts/install-deps.sh installs it)"
require_fixture "$FIXTURE"

cases=0

# Puts the backup back with the program's own Restore Backup, for every set of the folder.
restore_backup() {
    "$DVDRESTORE" "$1" >/dev/null
}

# play_titles NAME FOLDER
play_titles() {
    if [ "$DVDPLAY" != none ]; then
        "$DVDPLAY" "$2" --seconds 60 >"$2/../play.log" 2>/dev/null ||
            fail "$1: playback: $(grep FAIL "$2/../play.log" | head -3 | tr '\n' ' ')"
    fi
    if [ -n "$MPV" ]; then
        # The disc loops (title, menu, title ...), so mpv never ends by itself: it plays as fast
        # as it can for a few seconds, long enough to pass every cell of the title many times.
        timeout 3 "$MPV" --no-config --msg-level=all=warn --vo=null --ao=null \
            --ao-null-untimed --untimed --dvd-device="$2" dvd:// >"$2/../mpv.log" 2>&1
        if grep -E -q "Expected NAV packet|Error getting next block|Invalid NAV packet" "$2/../mpv.log"; then
            fail "$1: mpv: $(grep -E -m 2 "Expected NAV|Error getting|Invalid NAV" "$2/../mpv.log" | tr '\n' ' ')"
        fi
    fi
}

# run_case [--fixture FOLDER] [--vob NAME] NAME DAMAGE ARGS...
# Runs dorvex on NAME (default VTS_01_1.VOB) of a damaged copy of FOLDER (default the fixture).
run_case() {
    local fixture="$FIXTURE" vob=VTS_01_1.VOB
    while [[ "$1" == --* ]]; do
        case "$1" in
            --fixture) fixture="$2" ;;
            --vob) vob="$2" ;;
        esac
        shift 2
    done
    local name="$1" damage="$2"
    shift 2
    local dir="$WORK/$name"
    cases=$((cases + 1))
    fresh_dir "$dir"
    cp -a "$fixture" "$dir/input"
    if [ "$damage" != none ]; then
        python3 "$DAMAGE" "$dir/input" "$damage" >"$dir/damage.log" || { fail "$name: damage"; return; }
    fi
    cp -a "$dir/input" "$dir/VIDEO_TS"

    # The VOB in whatever case the disc spells it.
    local path
    path="$(find "$dir/VIDEO_TS" -maxdepth 1 -iname "$vob" | head -1)"
    "$DORVEX" -s "$@" -l "$dir/dorvex.log" "${path:-$dir/VIDEO_TS/$vob}" >"$dir/stdout" 2>"$dir/stderr"
    local status=$?
    if [ $status -ne 0 ]; then
        fail "$name: dorvex exited $status ($(head -c 300 "$dir/stderr"))"
        return
    fi
    if [ -s "$dir/stderr" ]; then
        fail "$name: alerts: $(head -c 300 "$dir/stderr")"
    fi
    local removed=()
    [[ " $* " == *" -u "* ]] && removed=(--removed)
    # The backup folder is not part of the disc: check a copy without it.
    fresh_dir "$dir/checked"
    cp -a "$dir/VIDEO_TS" "$dir/checked/VIDEO_TS"
    rm -rf "$dir/checked/VIDEO_TS/DorvexBackup"
    if ! "$DVDCHECK" "$dir/checked/VIDEO_TS" --before "$dir/input" "${removed[@]}" >"$dir/check.log" 2>&1; then
        fail "$name: checker: $(grep FAIL "$dir/check.log" | head -5 | tr '\n' ' ')"
    fi
    # A folder without the VOBs of its titles has nothing to play.
    if [ ${#removed[@]} -gt 0 ] && [ "$damage" != notitles ] && [ "$damage" != vmgonly ]; then
        play_titles "$name" "$dir/checked/VIDEO_TS"
    fi
    # Every line the run printed is in its log file.
    if ! diff <(tr -d '\n' <"$dir/stdout") <(grep -v -E "^(Dorvex -- |End Processing at)" "$dir/dorvex.log" | tr -d '\n') >/dev/null; then
        fail "$name: the log file does not hold every line the run printed"
    fi
    if [ "$damage" = none ] && [ ${#removed[@]} -gt 0 ]; then
        # An undamaged authored disc keeps its VOB files byte for byte.
        for vob in "$dir/input"/*.VOB; do
            cmp -s "$vob" "$dir/VIDEO_TS/$(basename "$vob")" || fail "$name: $(basename "$vob") changed"
        done
    fi
    if [[ " $* " != *" -i "* ]]; then
        restore_backup "$dir/VIDEO_TS"
        same_tree "$dir/input" "$dir/VIDEO_TS" ||
            fail "$name: restoring the backup does not give back the input ($(tree_differences "$dir/input" "$dir/VIDEO_TS"))"
    fi
}

for damage in none blank unref navlba pgcsectors gap lower; do
    run_case "$damage-backup-u" "$damage" -u
    run_case "$damage-backup" "$damage"
    run_case "$damage-inplace-u" "$damage" -u -i
    run_case "$damage-inplace" "$damage" -i
    run_case "$damage-full-u" "$damage" -u -f
done

# Folders as other tools leave them, each result checked like the others (dvdcheck fails on any
# libdvdread complaint): the PAL fixture's title set 1 without its title VOBs (its title tables
# must stay the original's), the video manager alone (it must still open), a -v run that drops
# VOB ID 1 (the cell address table's VOB count), and menus of commands only, whose PGCs without
# cells keep their PAL frame rate.
if [ "$(basename "$(dirname "$FIXTURE")")" = pal ]; then
    MENUCMD="$(dirname "$(dirname "$FIXTURE")")/menucmd/VIDEO_TS"
    run_case --vob VTS_01_0.VOB notitles-full-u notitles -f -u
    run_case --vob VTS_01_0.VOB notitles-full-inplace notitles -f -i
    run_case --vob VIDEO_TS.VOB vmgonly-u vmgonly -u
    run_case --vob VIDEO_TS.VOB vmgonly-full-inplace vmgonly -f -u -i
    run_case vob1-backup-u-v vob1 -u -v
    run_case vob1-inplace-u-v vob1 -u -v -i
    run_case --fixture "$MENUCMD" menucmd-full-u none -f -u
    run_case --fixture "$MENUCMD" menucmd-full-inplace none -f -i
fi

echo "$((cases - failures)) passed, $failures failed"
[ $failures -eq 0 ]
