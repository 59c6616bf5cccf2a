#!/usr/bin/env bash
# Varnel's choice of platform on KWin (with XWayland). Without the desktop entry's grant it runs on
# XWayland and says what KWin did not grant and how to get it; with the grant it runs natively. Runs
# inside run-with-kwin.sh with VARNEL_KWIN_XWAYLAND set. Argument: the varnel binary.
set -euo pipefail
varnel=$(readlink -f "$1")
granted=$2  # yes when the session grants varnel the interfaces
log=$(mktemp /tmp/varnel-choice.XXXXXX)
env -u QT_QPA_PLATFORM "$varnel" >"$log" 2>&1 &
pid=$!
trap 'status=$?; kill $pid 2>/dev/null; wait $pid 2>/dev/null || true; rm -f "$log"; exit $status' EXIT
on_x11() { xwininfo -root -tree 2>/dev/null | grep -q '"Varnel"'; }
if [ "$granted" = yes ]; then
    sleep 3
else
    for _ in $(seq 100); do
        on_x11 && break
        sleep 0.1
    done
    sleep 0.5
fi
fail() {
    echo "$1; varnel said:" >&2
    cat "$log" >&2
    exit 1
}
kill -0 $pid 2>/dev/null || fail "varnel did not keep running"
if [ "$granted" = yes ]; then
    ! on_x11 || fail "granted, varnel still runs on XWayland"
    ! grep -q "XWayland\|does not offer" "$log" || fail "granted, varnel reported something missing"
    echo "granted: varnel runs natively on KWin"
else
    on_x11 || fail "varnel's window is not on XWayland"
    [ "$(grep -c "running on XWayland" "$log")" = 1 ] || fail "expected the reason once"
    grep -q "does not offer: org_kde_plasma_window_management,org_kde_kwin_fake_input" "$log" ||
        fail "the reason does not name what KWin did not grant"
    grep -q "X-KDE-Wayland-Interfaces=org_kde_plasma_window_management,org_kde_kwin_fake_input,org_kde_kwin_keystate" "$log" &&
        grep -q "Exec=$varnel\$" "$log" || fail "the reason does not say how to get the grant"
    echo "not granted: varnel runs on XWayland and says why"
fi
