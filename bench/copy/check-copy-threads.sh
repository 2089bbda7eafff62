#!/usr/bin/env bash
# Each mode of dorvex_copy_threads copies the bytes of a file whose stretches do not divide it
# evenly (three whole ones and a partial one), and none writes over a file that is there.
#   check-copy-threads.sh TOOL
set -euo pipefail
TOOL="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
head -c $((3 * 1048576 + 1000)) /dev/urandom >"$WORK/in"
for mode in single reader split; do
    "$TOOL" "$mode" "$WORK/in" "$WORK/out-$mode" >/dev/null
    cmp "$WORK/in" "$WORK/out-$mode"
done
echo keep >"$WORK/there"
if "$TOOL" single "$WORK/in" "$WORK/there" 2>/dev/null; then
    echo "an existing output was accepted" >&2
    exit 1
fi
[ "$(cat "$WORK/there")" = keep ]
