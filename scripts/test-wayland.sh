#!/usr/bin/env bash
# The native Wayland backend in a headless sway: installs sway, wl-clipboard and Qt's Wayland plugin,
# builds, and runs the tests labelled wayland. sway runs as an unprivileged user made for the test.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES $WAYLAND_TEST_PACKAGES
build_for_tests
cd "$TEST_BUILD"
# As every end-to-end suite: a test that fails is run once more, and both runs stay in the log.
ctest --output-on-failure --repeat until-pass:2 -L wayland
