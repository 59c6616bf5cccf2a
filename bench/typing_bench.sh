#!/usr/bin/env bash
# Typing figures of the X11 keyboard: characters per second for a 2,000-character mixed text and for
# 2,000 ASCII characters (10 runs each) and 3,000 kanji (3 runs), exact runs counted, keymap batches
# per run, the window manager's CPU time per run and the longest stretch without an event-loop turn,
# measured with the keyboard test's timing case under a private Xvfb + openbox.
# Usage: bench/typing_bench.sh [build directory, default build]   (build target x11_keyboard_test first)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build="$root/$build" ;; esac
test="$build/tests/x11/x11_keyboard_test"
[ -x "$test" ] || { echo "$test is missing: ninja -C $build x11_keyboard_test" >&2; exit 1; }
out=$("$root/tests/x11/run-with-xvfb.sh" "$test" --gtest_also_run_disabled_tests \
    --gtest_filter='KeyboardTest.DISABLED_Timing' 2>&1) || { echo "$out" >&2; exit 1; }
echo "$out" | sed -n 's/^FIGURE //p'
