#!/usr/bin/env bash
# The main job on a built-in sample: authors a small PAL DVD with ffmpeg and dvdauthor, damages
# it the way rips and authoring leftovers are damaged (blank packs inside VOBUs and a cell that no
# program chain plays any more), shows what the independent checker finds, cleans the title set
# with `dorvex -s -u` from backup, and shows the checker passing with the run's log and every
# title playing to its end through libdvdnav.
set -euo pipefail
# The headless command line, even on a desktop: its log lines and alerts stay in this terminal.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${DORVEX_BUILD_DIR:-$ROOT/build}"
DEMO="$BUILD/demo"

bash "$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target dorvex dvdcheck dvdplay >/dev/null

echo "== Authoring a small PAL DVD (ffmpeg + dvdauthor)"
bash "$ROOT/scripts/make-fixtures.sh" "$BUILD/fixtures"
rm -rf "$DEMO"
mkdir -p "$DEMO"
cp -a "$BUILD/fixtures/pal/VIDEO_TS" "$DEMO/VIDEO_TS"
cp -a "$BUILD/fixtures/pal/VIDEO_TS" "$DEMO/original"

echo "== Damaging it: blank packs and an unreferenced cell"
python3 "$ROOT/scripts/damage.py" "$DEMO/VIDEO_TS" blank
python3 "$ROOT/scripts/damage.py" "$DEMO/VIDEO_TS" unref
cp -a "$DEMO/VIDEO_TS" "$DEMO/damaged"

echo "== Checker before cleaning"
"$BUILD/tests/realdvd/dvdcheck" "$DEMO/VIDEO_TS" || true

echo "== dorvex -s -u $DEMO/VIDEO_TS/VTS_01_1.VOB"
"$BUILD/app/dorvex" -s -u -l "$DEMO/Dorvex.log" "$DEMO/VIDEO_TS/VTS_01_1.VOB" >/dev/null
echo "exit status $?"

echo "== The log ($DEMO/Dorvex.log)"
cat "$DEMO/Dorvex.log"
echo

echo "== Checker after cleaning (the backup folder set aside)"
mv "$DEMO/VIDEO_TS/DorvexBackup" "$DEMO/DorvexBackup"
"$BUILD/tests/realdvd/dvdcheck" "$DEMO/VIDEO_TS" --before "$DEMO/damaged" --removed
echo "== Playing every title to its end through libdvdnav, as Linux players navigate"
# (libdvdread prints its notes about the missing CSS library to standard output: left out)
"$BUILD/tests/realdvd/dvdplay" "$DEMO/VIDEO_TS" 2>/dev/null | grep -E "^(title|FAIL)"
mv "$DEMO/DorvexBackup" "$DEMO/VIDEO_TS/DorvexBackup"
echo "== Done: the cleaned disc is in $DEMO/VIDEO_TS, the untouched files in $DEMO/VIDEO_TS/DorvexBackup"
