#!/usr/bin/env bash
# Authors small real DVD-Video folders with ffmpeg (lavfi test sources) and dvdauthor:
#   OUT/pal/VIDEO_TS   PAL: video-manager menu; title set 1 with a menu, title 1 of three chapters
#                      and title 2 (a second VOB ID) of two; title set 2 with one four-chapter title
#   OUT/ntsc/VIDEO_TS  NTSC: two title sets without menus, three and two chapters
#   OUT/menucmd/VIDEO_TS  PAL: video-manager and title-set menus of commands only (PGCs without
#                      cells, no menu VOB); title set 1 with one two-chapter title
# The result is cached: a folder authored by this same script is reused.
set -euo pipefail

OUT="${1:?usage: make-fixtures.sh OUTPUT_FOLDER}"
STAMP="$(sha1sum "${BASH_SOURCE[0]}" | cut -c1-16)"
if [ -f "$OUT/.stamp" ] && [ "$(cat "$OUT/.stamp")" = "$STAMP" ]; then
    exit 0
fi
# 77 tells CTest the suite is skipped, not failed: without the authoring tools there is nothing to test.
for tool in ffmpeg dvdauthor; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool not found: real DVD fixtures skipped (scripts/install-deps.sh installs it)"
        rm -rf "$OUT"
        exit 77
    fi
done
rm -rf "$OUT"
mkdir -p "$OUT/src"
SRC="$OUT/src"

# clip NAME STANDARD SOURCE SECONDS TONE
clip() {
    local size rate
    if [ "$2" = pal ]; then size=720x576 rate=25; else size=720x480 rate=30000/1001; fi
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "$3=size=$size:rate=$rate:duration=$4" \
        -f lavfi -i "sine=frequency=$5:duration=$4" \
        -target "$2-dvd" -b:v 1500k -g 12 "$SRC/$1.mpg"
}

clip pal_a pal testsrc 4 440 &
clip pal_b pal testsrc2 3 660 &
clip pal_m pal smptebars 1 330 &
clip ntsc_a ntsc testsrc 4 440 &
clip ntsc_b ntsc testsrc2 3 550 &
wait

cat > "$SRC/pal.xml" <<XML
<dvdauthor dest="$OUT/pal">
 <vmgm><menus><pgc entry="title"><vob file="$SRC/pal_m.mpg"/><post>jump title 1;</post></pgc></menus></vmgm>
 <titleset>
  <menus><pgc entry="root"><vob file="$SRC/pal_m.mpg"/><post>jump title 1;</post></pgc></menus>
  <titles>
   <pgc><vob file="$SRC/pal_a.mpg" chapters="0,1,2"/></pgc>
   <pgc><vob file="$SRC/pal_b.mpg" chapters="0,1.5"/></pgc>
  </titles>
 </titleset>
 <titleset><titles><pgc><vob file="$SRC/pal_b.mpg" chapters="0,0.5,1,2"/></pgc></titles></titleset>
</dvdauthor>
XML

cat > "$SRC/ntsc.xml" <<XML
<dvdauthor dest="$OUT/ntsc">
 <vmgm/>
 <titleset><titles><pgc><vob file="$SRC/ntsc_a.mpg" chapters="0,1,2.5"/></pgc></titles></titleset>
 <titleset><titles><pgc><vob file="$SRC/ntsc_b.mpg" chapters="0,1.5"/></pgc></titles></titleset>
</dvdauthor>
XML

cat > "$SRC/menucmd.xml" <<XML
<dvdauthor dest="$OUT/menucmd">
 <vmgm><menus><pgc entry="title"><pre>jump title 1;</pre></pgc></menus></vmgm>
 <titleset>
  <menus><pgc entry="root"><pre>jump title 1;</pre></pgc></menus>
  <titles><pgc><vob file="$SRC/pal_b.mpg" chapters="0,1.5"/></pgc></titles>
 </titleset>
</dvdauthor>
XML

VIDEO_FORMAT=PAL dvdauthor -x "$SRC/pal.xml" >"$SRC/pal.log" 2>&1
VIDEO_FORMAT=PAL dvdauthor -x "$SRC/menucmd.xml" >"$SRC/menucmd.log" 2>&1
VIDEO_FORMAT=NTSC dvdauthor -x "$SRC/ntsc.xml" >"$SRC/ntsc.log" 2>&1
rm -f "$SRC"/*.mpg
echo "$STAMP" > "$OUT/.stamp"
