#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test: unit, widget, X11 backend and
# end-to-end. The end-to-end tests start their own X server (Xvfb) and window manager (openbox); no
# display is needed. Then the behaviour's unit tests and fuzz targets run again under AddressSanitizer
# and UndefinedBehaviorSanitizer, and once more as Windows programs under Wine; the Windows installer
# is tried under Wine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
began=$(date +%s)
# shellcheck disable=SC2086
step install install_packages $BUILD_PACKAGES $TEST_PACKAGES
jobs=$(nproc)

step "build" configure_and_build "$VARNEL_ROOT/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$VARNEL_ROOT/build-test"
step "format" "$VARNEL_ROOT/scripts/check-format.sh"
step "unit and widget tests" ctest --output-on-failure -L 'unit|ui' -j "$jobs"
# The end-to-end tests drive real programs on a loaded machine: a test that fails is run once more
# (both runs stay in the log), so that one late window does not hide the rest of the run.
step "end-to-end (openbox)" ctest --output-on-failure --repeat until-pass:2 -L e2e
step "window managers" "$VARNEL_ROOT/scripts/test-window-managers.sh" "$VARNEL_ROOT/build-test"
step "wayland" "$VARNEL_ROOT/scripts/test-wayland.sh"
step "debian package" "$VARNEL_ROOT/scripts/test-package.sh"

step "asan build" configure_and_build "$VARNEL_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON -DVARNEL_QT=OFF
cd "$VARNEL_ROOT/build-asan"
step "asan unit tests" ctest --output-on-failure -L unit -j "$jobs"

step "windows tests" "$VARNEL_ROOT/scripts/test-windows.sh"
step "windows package" "$VARNEL_ROOT/scripts/test-windows-package.sh"
step "windows end-to-end" "$VARNEL_ROOT/scripts/test-windows-e2e.sh"

step_summary
echo "varnel: the whole command took $(($(date +%s) - began)) s"
if [ $step_status -ne 0 ]; then
    echo "varnel: some tests failed" >&2
fi
exit $step_status
