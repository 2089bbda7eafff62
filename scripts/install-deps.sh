#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, and any further Debian
# packages named as arguments (the benchmark asks for its file systems' tools only when it
# measures them). Safe to run again.
#
#   scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    qt6-base-dev qt6-svg-dev libsimpleini-dev
    libdvdread-dev libdvdnav-dev ffmpeg dvdauthor mpv genisoimage
    xvfb xauth python3 python3-pil time bc strace
    chromium
    clang libclang-rt-14-dev
    libcli11-dev desktop-file-utils
    "$@"
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
