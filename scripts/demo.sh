#!/usr/bin/env bash
# The main job on a built-in sample DVD. Until the cleaning run lands this builds the program
# and says what the demo will do.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j "$(nproc)"
echo "Built. The demo will author a small DVD, damage it, and clean it with 'dorvex -s -u'."
