#!/usr/bin/env bash
# Varnel on GNOME Wayland: installs GNOME Shell, builds, and runs the tests labelled gnome, each in a
# private headless GNOME Shell with the extension installed by `varnel --gnome-extension install`
# (tests/gnome/run-with-gnome-shell.sh; needs root for its namespaces).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES $GNOME_TEST_PACKAGES
build_for_tests
cd "$TEST_BUILD"
# As every end-to-end suite: a test that fails is run once more, and both runs stay in the log.
ctest --output-on-failure --repeat until-pass:2 -R '^gnome_'
