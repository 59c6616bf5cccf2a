#!/usr/bin/env bash
# Typing figures of the X11 keyboard: characters per second for a 2,000-character mixed text, for
# 2,000 ASCII characters and for 3,000 distinct kanji (10 runs each), exact runs counted, keymap batches
# and keymap changes per run, the window manager's and an xterm's CPU time per run and the longest
# stretch without an event-loop turn, measured with the keyboard test's timing case under a private
# Xvfb + openbox (or the window manager VARNEL_E2E_WM names: openbox, metacity, xfwm4, icewm, fluxbox,
# mutter, i3). VARNEL_BENCH_ONE_GROUP=1 gives the figures with one keyboard group per spare keycode.
# Usage: bench/typing_bench.sh [build directory, default build]   (build target x11_keyboard_test first)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build="$root/$build" ;; esac
test="$build/tests/x11/x11_keyboard_test"
[ -x "$test" ] || { echo "$test is missing: ninja -C $build x11_keyboard_test" >&2; exit 1; }
# An xterm on the same display stands for every other client: its CPU time shows what each keymap change
# costs the rest of the desktop.
# It ends with the display; the test runs in place of the shell, as a child of run-with-xvfb.sh, where it
# looks for the window manager.
run='if command -v xterm >/dev/null; then
         xterm -geometry 40x5+700+500 & export VARNEL_BENCH_BYSTANDER_PID=$!
         sleep 1
     fi
     exec "$@"'
out=$("$root/tests/x11/run-with-xvfb.sh" bash -c "$run" bash "$test" --gtest_also_run_disabled_tests \
    --gtest_filter='KeyboardTest.DISABLED_Timing' 2>&1) || { echo "$out" >&2; exit 1; }
echo "$out" | sed -n 's/^FIGURE //p'
