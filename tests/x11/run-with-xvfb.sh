#!/usr/bin/env bash
# Runs one command under a private Xvfb (1024x768) with openbox as its window manager, then stops both.
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
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
# Wait (bounded) until the window manager has announced itself.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
"$@"
rc=$?
kill "$wm" "$xvfb" 2>/dev/null
wait "$wm" "$xvfb" 2>/dev/null
exit $rc
