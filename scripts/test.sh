#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test: unit, widget, X11 backend and
# end-to-end. The end-to-end tests start their own X server (Xvfb) and window manager (openbox); no
# display is needed. Then the behaviour's unit tests and fuzz targets run again under AddressSanitizer
# and UndefinedBehaviorSanitizer, and once more as Windows programs under Wine; the Windows installer
# is tried under Wine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES
jobs=$(nproc)

configure_and_build "$VARNEL_ROOT/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$VARNEL_ROOT/build-test"
status=0
"$VARNEL_ROOT/scripts/check-format.sh" || status=1
ctest --output-on-failure -L 'unit|ui' -j "$jobs" || status=1
# The end-to-end tests drive real programs on a loaded machine: a test that fails is run once more
# (both runs stay in the log), so that one late window does not hide the rest of the run.
ctest --output-on-failure --repeat until-pass:2 -L e2e || status=1
"$VARNEL_ROOT/scripts/test-window-managers.sh" "$VARNEL_ROOT/build-test" || status=1
"$VARNEL_ROOT/scripts/test-wayland.sh" || status=1
"$VARNEL_ROOT/scripts/test-package.sh" || status=1

configure_and_build "$VARNEL_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON -DVARNEL_QT=OFF
cd "$VARNEL_ROOT/build-asan"
ctest --output-on-failure -L unit -j "$jobs" || status=1

"$VARNEL_ROOT/scripts/test-windows.sh" || status=1
"$VARNEL_ROOT/scripts/test-windows-package.sh" || status=1
"$VARNEL_ROOT/scripts/test-windows-e2e.sh" || status=1

if [ $status -ne 0 ]; then
    echo "varnel: some tests failed" >&2
fi
exit $status
