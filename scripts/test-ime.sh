#!/usr/bin/env bash
# Keystroke sends with fcitx5 + mozc and ibus + mozc switched on and off, and with no input method, in
# GTK3, Qt and Tk targets (ctest label ime). Installs the input methods when missing, builds and runs
# the tests; as every end-to-end suite, a test that fails is run once more and both runs stay in the log.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES $IME_TEST_PACKAGES
build_for_tests
ctest --test-dir "$TEST_BUILD" --output-on-failure --repeat until-pass:2 -L ime
