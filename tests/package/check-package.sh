#!/usr/bin/env bash
# check-package.sh install|deb BUILD_DIR WORK_DIR VERSION GUI(0|1)
#   install: `cmake --install BUILD_DIR --prefix /usr` into WORK_DIR with DESTDIR; the installed
#            dorvex-cli must run from there, and exactly the expected files must have landed.
#   deb:     `cpack -G DEB` into WORK_DIR; dpkg-deb -I must show the package's fields and its
#            dependencies. Exit 77 (skipped) without dpkg-deb.
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
set -e

MODE="$1" BUILD="$2" WORK="$3" VERSION="$4" GUI="$5"
# Here the first failure ends the check: what follows would only repeat it.
fail() { echo "FAIL: $*" >&2; exit 1; }

fresh_dir "$WORK"

expected_files() {
    echo usr/bin/dorvex
    echo usr/bin/dorvex-cli
    echo usr/share/man/man1/dorvex-cli.1
    echo usr/share/man/man1/dorvex.1
    if [ "$GUI" = 1 ]; then
        echo usr/share/applications/dorvex.desktop
        echo usr/share/pixmaps/dorvex.xpm
    fi
}

case "$MODE" in
install)
    DEST="$WORK/root"
    DESTDIR="$DEST" cmake --install "$BUILD" --prefix /usr >"$WORK/install.log"
    diff <(expected_files | sort) <(cd "$DEST" && find . -type f | sed 's|^\./||' | sort) ||
        fail "installed files differ from the expected list (< expected, > installed)"

    version="$("$DEST/usr/bin/dorvex-cli" --version)"
    [ "$version" = "dorvex-cli $VERSION" ] || fail "installed dorvex-cli --version says '$version'"
    # The installed program does real work: a folder without title sets is refused with status 2.
    mkdir -p "$WORK/empty"
    status=0
    "$DEST/usr/bin/dorvex-cli" clean "$WORK/empty" 2>"$WORK/refused.txt" || status=$?
    [ "$status" = 2 ] || fail "dorvex-cli clean on an empty folder exited $status"
    grep -q '^error: ' "$WORK/refused.txt" || fail "no error line: $(cat "$WORK/refused.txt")"

    for page in dorvex dorvex-cli; do
        file="$DEST/usr/share/man/man1/$page.1"
        if command -v groff >/dev/null; then
            warnings="$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$file" 2>&1)"
            [ -z "$warnings" ] || fail "$page.1: $warnings"
        fi
        grep -q "^\.TH ${page^^} 1 " "$file" || fail "$page.1 has no .TH line for ${page^^}(1)"
    done
    if [ "$GUI" = 1 ]; then
        desktop="$DEST/usr/share/applications/dorvex.desktop"
        grep -qx 'Exec=dorvex %f' "$desktop" || fail "dorvex.desktop does not run dorvex on a file"
        grep -qx 'MimeType=video/mpeg;' "$desktop" || fail "dorvex.desktop takes no VOB files"
        if command -v desktop-file-validate >/dev/null; then
            desktop-file-validate "$desktop" || fail "dorvex.desktop does not validate"
        fi
    fi
    echo "installed and ran $DEST/usr/bin/dorvex-cli: $version"
    ;;
deb)
    command -v dpkg-deb >/dev/null || skip "dpkg-deb not found: package check skipped"
    cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK" >"$WORK/cpack.log" 2>&1 ||
        fail "cpack failed: $(cat "$WORK/cpack.log")"
    deb="$WORK/dorvex_${VERSION}_$(dpkg --print-architecture).deb"
    [ -f "$deb" ] || fail "no $deb; cpack said: $(cat "$WORK/cpack.log")"
    info="$(dpkg-deb -I "$deb")"
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = dorvex ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$VERSION" ] || fail "Version: $(field Version)"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer field"
    [ -n "$(field Description)" ] || fail "no Description field"
    depends="$(field Depends)"
    needed=(libc6 libstdc++6)
    if [ "$GUI" = 1 ]; then
        needed+=(libqt6core6 libqt6widgets6 libqt6svg6 libqt6svgwidgets6 qt6-qpa-plugins)
    fi
    names="$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')"
    for package in "${needed[@]}"; do
        grep -qxF "$package" <<<"$names" || fail "Depends lacks $package: $depends"
    done
    contents="$(dpkg-deb -c "$deb")"
    for file in ./usr/bin/dorvex ./usr/bin/dorvex-cli ./usr/share/man/man1/dorvex-cli.1; do
        grep -q " $file\$" <<<"$contents" || fail "$file is not in the package"
    done
    echo "$info"
    ;;
*)
    fail "unknown mode $MODE"
    ;;
esac
