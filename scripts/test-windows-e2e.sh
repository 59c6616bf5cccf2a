#!/usr/bin/env bash
# Runs the Windows program end to end under Wine: builds it with MinGW-w64 together with a small
# target application and a driver tool (tests/wine), makes a Wine prefix of its own in a temporary
# folder (Japanese locale, code page 932, a virtual desktop on a private Xvfb, Japanese fonts linked
# into Wine's UI fonts) and runs the Python tests in tests/wine against it. Everything it starts is
# stopped, and the prefix deleted, at the end. Run by test.sh; can run on its own.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $WINDOWS_TEST_PACKAGES
started=$(date +%s)

build="$WINDOWS_BUILD"
configure_windows -DVARNEL_BUILD_TESTS=ON
run_build "$build"

start_wine_on_own_display varnel-wine-e2e 1024x768
# Wine takes its code page from LC_ALL: ja_JP gives the Japanese code page 932 whether or not that
# locale is generated on this machine (LANG alone does not).
export LC_ALL=ja_JP.UTF-8

# One Wine server for the whole run, and the prefix made with every Wine process on one virtual
# desktop of the X server's size (no window manager: Wine's own desktop places the windows).
run_bounded() {
    local seconds=$1
    shift
    timeout "$seconds" "$@" </dev/null >>"$WINEPREFIX/setup.log" 2>&1 || {
        echo "varnel: '$*' failed or took over $seconds s" >&2
        cat "$WINEPREFIX/setup.log" >&2
        exit 1
    }
}
# A registry change, tried up to five times: while Wine is still finishing a new prefix in the
# background, starting reg.exe can fail ("ShellExecuteEx failed"), seen once in a cold CI run.
reg_add() {
    local try
    for try in 1 2 3 4 5; do
        if timeout 60 wine reg add "$@" </dev/null >>"$WINEPREFIX/setup.log" 2>&1; then
            return 0
        fi
        echo "varnel: 'wine reg add $*' failed (try $try of 5)" >>"$WINEPREFIX/setup.log"
        sleep 3
    done
    echo "varnel: 'wine reg add $*' failed five times" >&2
    cat "$WINEPREFIX/setup.log" >&2
    exit 1
}
wineserver -p </dev/null >/dev/null 2>&1
run_bounded 120 wine wineboot --init
# The prefix is usable once its system folder holds reg.exe (60 s at most).
for _ in $(seq 600); do
    [ -e "$WINEPREFIX/drive_c/windows/system32/reg.exe" ] && break
    sleep 0.1
done
fontlink='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
reg_add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
reg_add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
for face in Tahoma "MS UI Gothic" "Microsoft Sans Serif"; do
    reg_add "$fontlink" /v "$face" /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f
done
# The desktop settings take effect when Wine's services start again.
wineserver -k >/dev/null 2>&1 || true
run_bounded 60 wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
run_bounded 120 wine wineboot
# Wine's desktop process ends a moment after the last window of the prefix closes, and a program
# started while it ends can wait half a minute for it: one idle window keeps it up between the tests.
wine "$build/tests/wine/varnel_wine_target.exe" "Wine desktop keeper" </dev/null >/dev/null 2>&1 &
echo "varnel: Wine prefix ready in $(($(date +%s) - started)) s"

export VARNEL_WINE_BUILD="$build"
status=0
# The whole run is bounded, in case a window that the tests drive hangs in a way no single wait sees.
timeout 900 python3 "$VARNEL_ROOT/tests/wine/run_twice.py" "$@" || status=1
echo "varnel: Windows end-to-end tests took $(($(date +%s) - started)) s"
exit $status
