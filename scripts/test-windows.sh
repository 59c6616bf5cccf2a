#!/usr/bin/env bash
# Builds the Windows program (varnel.exe), the behaviour's unit tests, the front end's tests and the
# fuzz targets for Windows with MinGW-w64 and runs the tests under Wine, in a Wine prefix of their own
# that is deleted afterwards, on an Xvfb display of their own. Run by test.sh; can run on its own.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $WINDOWS_TEST_PACKAGES

build="$WINDOWS_BUILD"
configure_windows -DVARNEL_BUILD_TESTS=ON
run_build "$build"

# The front end's windows need a display: an Xvfb of their own, with Wine's windows on a virtual
# desktop (without a window manager Wine waits up to 2 s for every window it hides).
start_wine_on_own_display varnel-wine 1280x1024

# One server and one set of Wine's services for every test program, kept until the end. Both start
# here, away from the tests' output: ctest would otherwise wait for services that hold it open.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1 || {
    cat "$WINEPREFIX/wineboot.log" >&2
    exit 1
}
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
# The desktop is chosen when Wine's services start: once more, with the virtual desktop.
wineserver -k >/dev/null 2>&1 || true
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >>"$WINEPREFIX/wineboot.log" 2>&1

cd "$build"
status=0
ctest --output-on-failure -L "unit|ui" || status=1
# label win32: the backends of windows, clipboard and keys against windows of their own; as every
# end-to-end suite, a failed run is tried once more and both runs stay in the log.
ctest --output-on-failure --repeat until-pass:2 -L win32 || status=1
exit $status
