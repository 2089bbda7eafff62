# The prologue the shell tests share; each sources it first:
#   . "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
# A test goes on after a failed check (fail) so that one run reports every failure, and ends
# with finish; exit status 77 tells ctest the test was skipped.
set -uo pipefail
# The headless command line, even on a desktop: alerts go to stderr instead of message boxes.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DAMAGE="$ROOT/scripts/damage.py"

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# skip MESSAGE: says why and ends the test as skipped.
skip() {
    echo "$*"
    exit 77
}

# The fixture script skips when ffmpeg or dvdauthor is missing; the tests of its discs skip too
# rather than fail.
require_fixture() {
    [ -d "$1" ] || skip "no fixture at $1: skipped"
}

# An empty folder at PATH, whatever an earlier run left there.
fresh_dir() {
    rm -rf "$1"
    mkdir -p "$1"
}

same_tree() {
    diff -r -q "$1" "$2" >/dev/null
}

# The first three files that differ between two trees, on one line.
tree_differences() {
    diff -r -q "$1" "$2" | head -3 | tr '\n' ' '
}

# finish [SUCCESS_LINE]: ends the test, exit status 1 after any failure. The count of failures
# is said, unless there was none and a line to say instead.
finish() {
    if [ $failures -ne 0 ] || [ $# -eq 0 ]; then
        echo "$failures failure(s)"
    else
        echo "$1"
    fi
    [ $failures -eq 0 ]
    exit
}
