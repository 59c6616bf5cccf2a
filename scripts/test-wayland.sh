#!/usr/bin/env bash
# The native Wayland backend in a headless sway: installs sway, wl-clipboard and Qt's Wayland plugin,
# builds, and runs the tests labelled wayland. sway runs as an unprivileged user made for the test.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES $WAYLAND_TEST_PACKAGES
configure_and_build "$VARNEL_ROOT/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$VARNEL_ROOT/build-test"
ctest --output-on-failure -L wayland
