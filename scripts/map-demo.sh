#!/usr/bin/env bash
# The report of the demo disc (the PAL fixture with blank packs and a cell no program chain
# plays, as scripts/demo.sh damages it): `dorvex-cli plan -u --html` and `check --html` into
# build/map-demo/, and the top of the plan's page (the map before and after) screenshot by
# headless chromium into docs/map-demo.png.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${DORVEX_BUILD_DIR:-$ROOT/build}"
OUT="$BUILD/map-demo"

cmake --build "$BUILD" --target dorvex-cli >/dev/null
[ -d "$BUILD/fixtures/pal/VIDEO_TS" ] || bash "$ROOT/scripts/make-fixtures.sh" "$BUILD/fixtures"
rm -rf "$OUT"
mkdir -p "$OUT"
cp -a "$BUILD/fixtures/pal/VIDEO_TS" "$OUT/VIDEO_TS"
python3 "$ROOT/scripts/damage.py" "$OUT/VIDEO_TS" blank >/dev/null
python3 "$ROOT/scripts/damage.py" "$OUT/VIDEO_TS" unref >/dev/null

cd "$OUT"
"$BUILD/app/dorvexcli/dorvex-cli" check --html check.html VIDEO_TS >/dev/null || true
"$BUILD/app/dorvexcli/dorvex-cli" plan -u --html plan.html VIDEO_TS >/dev/null
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --force-device-scale-factor=1 \
    --user-data-dir="$OUT/profile" --window-size=1000,310 --screenshot="$ROOT/docs/map-demo.png" \
    "file://$OUT/plan.html" >/dev/null 2>&1
rm -rf "$OUT/profile"
echo "$OUT/check.html, $OUT/plan.html, $ROOT/docs/map-demo.png"
