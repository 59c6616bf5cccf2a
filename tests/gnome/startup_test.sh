#!/usr/bin/env bash
# Run by run-with-gnome-shell.sh: Varnel runs natively while the extension answers, and on the shell's
# XWayland with a notice naming the missing extension and how to enable it once it is disabled.
#   startup_test.sh VARNEL
set -uo pipefail
varnel=$1
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
unset QT_QPA_PLATFORM

# Without DISPLAY there is no fallback: a missing service would show as the Wayland backend's notice.
env -u DISPLAY "$varnel" >"$out" 2>&1 &
pid=$!
sleep 2
if ! kill -0 $pid 2>/dev/null || [ -s "$out" ]; then
    echo "FAIL: with the extension, Varnel did not run quietly:"
    cat "$out"
    status=1
fi
kill $pid 2>/dev/null
wait $pid 2>/dev/null

gnome-extensions disable varnel@example.org
for _ in $(seq 50); do
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.example.varnel.Shell | grep -q false && break
    sleep 0.1
done
DISPLAY=$XWAYLAND_DISPLAY "$varnel" >"$out" 2>&1 &
pid=$!
sleep 2
if ! kill -0 $pid 2>/dev/null; then
    echo "FAIL: without the extension, Varnel did not run on XWayland:"
    cat "$out"
    status=1
elif ! grep -q "extension varnel@example.org is not running" "$out" ||
    ! grep -q "gnome-extensions enable varnel@example.org" "$out"; then
    echo "FAIL: the notice does not name the missing extension and how to enable it:"
    cat "$out"
    status=1
fi
kill $pid 2>/dev/null
wait $pid 2>/dev/null
[ $status -eq 0 ] && echo "startup: native with the extension, XWayland and the notice without it"
exit $status
