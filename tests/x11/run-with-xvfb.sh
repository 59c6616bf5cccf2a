#!/usr/bin/env bash
# Runs one command under a private Xvfb (1024x768) with openbox as its window manager, or the one
# VARNEL_E2E_WM names (as in the end-to-end suite), then stops both.
set -u
command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; exit 1; }
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$fifo" 2>/dev/null &
xvfb=$!
read -r -t 10 display <"$fifo"
rm -f "$fifo"
if [ -z "${display:-}" ]; then
    echo "Xvfb did not start" >&2
    kill "$xvfb" 2>/dev/null
    exit 1
fi
export DISPLAY=":$display"
export VARNEL_E2E_WM=${VARNEL_E2E_WM:-openbox}
runtime=$(mktemp -d)
# The manager leads a process group of its own, with the session bus some of them are started with.
set -m
case $VARNEL_E2E_WM in
    openbox) openbox --sm-disable >/dev/null 2>&1 & ;;
    metacity) metacity --sm-disable --no-composite >/dev/null 2>&1 & ;;
    xfwm4)
        XDG_RUNTIME_DIR=$runtime dbus-run-session -- xfwm4 --sm-client-disable --compositor=off \
            >/dev/null 2>&1 &
        ;;
    icewm) HOME=$runtime icewm >/dev/null 2>&1 & ;;
    fluxbox) HOME=$runtime fluxbox >/dev/null 2>&1 & ;;
    mutter)
        XDG_RUNTIME_DIR=$runtime dbus-run-session -- mutter --x11 --sm-disable >/dev/null 2>&1 &
        ;;
    i3)
        printf '# i3 config file (v4)\nfont pango:monospace 8\nfocus_follows_mouse no\n' >"$runtime/i3"
        i3 -c "$runtime/i3" >/dev/null 2>&1 &
        ;;
    *)
        echo "run-with-xvfb.sh: VARNEL_E2E_WM=$VARNEL_E2E_WM is not a window manager it knows" >&2
        kill "$xvfb"
        exit 1
        ;;
esac
wm=$!
set +m
# Wait (bounded) until the window manager has announced itself.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
"$@"
rc=$?
kill -- -"$wm" 2>/dev/null
kill "$xvfb" 2>/dev/null
wait "$wm" "$xvfb" 2>/dev/null
rm -rf "$runtime"
exit $rc
