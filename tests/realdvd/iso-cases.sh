#!/usr/bin/env bash
# dorvex-cli on DVD-Video images authored from the real fixtures with genisoimage -dvd-video -udf,
# damaged first (a cell no PGC plays any more, shifted navpack LBAs): check and plan
# read the image where it is, clean -u writes a new image and a folder. The new image must pass
# the libdvdread checker (which reads it through libdvdread from the image) and play every title
# to its end through libdvdnav; the input image keeps its bytes; the folder written from the image
# is byte for byte the folder clean -u makes of the same damaged disc.
#
#   iso-cases.sh DORVEX_CLI DVDCHECK DVDPLAY|none FIXTURE_FOLDER WORK_FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

CLI="$1"
DVDCHECK="$2"
DVDPLAY="$3"
FIXTURE="$4"
WORK="$5"
require_fixture "$FIXTURE"
command -v genisoimage >/dev/null ||
    skip "genisoimage not found: images skipped (scripts/install-deps.sh installs it)"

fresh_dir "$WORK"
mkdir -p "$WORK/disc"
cp -a "$FIXTURE" "$WORK/disc/VIDEO_TS"
mkdir -p "$WORK/disc/AUDIO_TS"
for kind in unref navlba; do
    python3 "$DAMAGE" "$WORK/disc/VIDEO_TS" "$kind" >/dev/null || fail "damage $kind"
done
genisoimage -quiet -dvd-video -udf -V DAMAGED -o "$WORK/input.iso" "$WORK/disc" || fail "genisoimage"
sum_before="$(sha1sum <"$WORK/input.iso")"

# check and plan on the image, as on the folder it was made from.
"$CLI" check "$WORK/input.iso" >"$WORK/check-input.txt"
[ $? -eq 1 ] || fail "check of the damaged image does not exit 1"
"$CLI" check "$WORK/disc/VIDEO_TS" >"$WORK/check-folder.txt"
diff <(sed 's|in .*$||' "$WORK/check-input.txt") <(sed 's|in .*$||' "$WORK/check-folder.txt") >/dev/null ||
    fail "check of the image and of its folder differ: $(diff "$WORK/check-input.txt" "$WORK/check-folder.txt" | head -4 | tr '\n' ' ')"
"$CLI" plan -u -f --json "$WORK/input.iso" >"$WORK/plan-input.json" || fail "plan of the image exited $?"
"$CLI" plan -u -f --json "$WORK/disc/VIDEO_TS" >"$WORK/plan-folder.json"
python3 - "$WORK/plan-input.json" "$WORK/plan-folder.json" <<'PY' || fail "plan of the image and of its folder differ"
import json, os, sys
def shape(file):
    plan = json.load(open(file))
    return ([(os.path.basename(s["vob"]), s["packs"], s["navpacks"]["changed"]) for s in plan["steps"]],
            [(os.path.basename(i["path"]), i["changes"]) for i in plan["ifo"]])
sys.exit(0 if shape(sys.argv[1]) == shape(sys.argv[2]) else 1)
PY

# clean into a new image and into a folder.
"$CLI" clean -u -q --log "$WORK/iso.log" "$WORK/input.iso" --output "$WORK/clean.iso" ||
    fail "clean into an image exited $?"
"$CLI" clean -u -q --log "$WORK/dir.log" "$WORK/input.iso" --output "$WORK/cleaned" ||
    fail "clean into a folder exited $?"
[ "$sum_before" = "$(sha1sum <"$WORK/input.iso")" ] || fail "the input image changed"
leftovers="$(find "$WORK" -maxdepth 1 -name '.*dorvex-*')"
[ -z "$leftovers" ] || fail "work folders left behind: $leftovers"

"$DVDCHECK" "$WORK/clean.iso" >"$WORK/dvdcheck.log" 2>&1 ||
    fail "dvdcheck on the new image: $(grep FAIL "$WORK/dvdcheck.log" | head -3 | tr '\n' ' ')"
"$CLI" check "$WORK/clean.iso" >"$WORK/check-clean.txt" ||
    fail "check on the new image: $(grep '^  ' "$WORK/check-clean.txt" | head -3 | tr '\n' ' ')"
if [ "$DVDPLAY" != none ]; then
    "$DVDPLAY" "$WORK/clean.iso" --seconds 60 >"$WORK/play.log" 2>/dev/null ||
        fail "playback of the new image: $(grep FAIL "$WORK/play.log" | head -3 | tr '\n' ' ')"
fi

# The same engine and options as a folder's clean: the damaged folder cleaned with -u in place.
"$CLI" clean -u -i -q --log "$WORK/folder.log" "$WORK/disc" || fail "clean of the folder exited $?"
diff -r -q "$WORK/cleaned/VIDEO_TS" "$WORK/disc/VIDEO_TS" >"$WORK/diff.txt" ||
    fail "the folder written from the image differs from the folder cleaned: $(head -3 "$WORK/diff.txt" | tr '\n' ' ')"
[ -d "$WORK/cleaned/AUDIO_TS" ] || fail "no AUDIO_TS in the folder written from the image"

finish "images: check, plan and clean into an image and a folder pass"
