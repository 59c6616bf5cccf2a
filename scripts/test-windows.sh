#!/usr/bin/env bash
# Builds the behaviour's unit tests and fuzz targets for Windows with MinGW-w64 and runs them under
# Wine, in a Wine prefix of their own that is deleted afterwards. Run by test.sh; can run on its own.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
WINDOWS_PACKAGES="g++-mingw-w64-x86-64-posix wine wine64 googletest libicu-dev cmake ninja-build"
# shellcheck disable=SC2086
install_packages $WINDOWS_PACKAGES

build="$VARNEL_ROOT/build-windows"
configure_and_build "$build" -DCMAKE_TOOLCHAIN_FILE="$VARNEL_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_BEHAVIOUR_ONLY=ON

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/varnel-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() {
    wineserver -k >/dev/null 2>&1 || true  # only the server of this prefix
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# One server and one set of Wine's services for every test program, kept until the end. Both start
# here, away from the tests' output: ctest would otherwise wait for services that hold it open.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1 || {
    cat "$WINEPREFIX/wineboot.log" >&2
    exit 1
}

cd "$build"
ctest --output-on-failure -L unit
