#!/usr/bin/env bash
# Keystroke sends with fcitx5 + mozc and ibus + mozc switched on and off in GTK3 and Tk targets
# (ctest label ime). Installs the input methods when missing, builds what the tests need and runs them.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_packages $BUILD_PACKAGES $TEST_PACKAGES $IME_TEST_PACKAGES
build=${VARNEL_BUILD_DIR:-$VARNEL_ROOT/build}
cmake -S "$VARNEL_ROOT" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target ime_typing_test
ctest --test-dir "$build" -L ime --output-on-failure
