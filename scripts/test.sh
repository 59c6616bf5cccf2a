#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test, in two tracks at once:
# - Linux: the format check, the unit and widget tests, the X11 backends' and the end-to-end tests
#   under openbox, the suites that depend on the window manager under six more managers, the Wayland
#   tests in a headless sway and a headless KWin, the GNOME tests in a headless GNOME Shell with
#   Varnel's extension, keystroke sends with fcitx5 and ibus switched on, and the Debian
#   package's check;
# - Windows and sanitizers: the behaviour's unit tests and fuzz targets under AddressSanitizer and
#   UndefinedBehaviorSanitizer, the Windows program's tests under Wine, its installer's check and its
#   end-to-end tests under Wine.
# The tracks share no build folder, X display or Wine prefix. Every build after the first runs at a
# lower priority, so that the end-to-end tests running beside it keep the processor they need. Each
# end-to-end test that fails is run once more (both runs stay in the log); one that fails twice fails
# the command. The second track's log follows the first's; a table of each step's time ends the run.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
began=$(date +%s)
# Everything at once: one package index update and one installation.
# shellcheck disable=SC2086
step install install_packages $BUILD_PACKAGES $TEST_PACKAGES $WAYLAND_TEST_PACKAGES $WM_PACKAGES \
    $PACKAGE_PACKAGES $PACKAGE_CHECK_PACKAGES $WINDOWS_BUILD_PACKAGES $WINDOWS_PACKAGE_PACKAGES \
    $WINDOWS_PACKAGE_CHECK_PACKAGES $WINDOWS_TEST_PACKAGES $IME_TEST_PACKAGES $GNOME_TEST_PACKAGES
jobs=$(nproc)
logs=$(mktemp -d "${TMPDIR:-/tmp}/varnel-test.XXXXXX")
trap 'rm -rf "$logs"' EXIT

windows_and_sanitizers() {
    export VARNEL_BUILD_NICE=10
    step_lines=()
    step "sanitizer build" configure_and_build "$VARNEL_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug \
        -DVARNEL_SANITIZE=ON -DVARNEL_QT=OFF
    step "sanitizer unit tests" ctest --test-dir "$VARNEL_ROOT/build-asan" --output-on-failure -L unit -j "$jobs"
    step "windows tests" "$VARNEL_ROOT/scripts/test-windows.sh"
    step "windows package" "$VARNEL_ROOT/scripts/test-windows-package.sh"
    step "windows end-to-end" "$VARNEL_ROOT/scripts/test-windows-e2e.sh"
    printf '%s\n' "${step_lines[@]}" >"$logs/steps"
    exit $step_status
}
windows_and_sanitizers >"$logs/windows.log" 2>&1 &
second=$!

step "build" build_for_tests
cd "$TEST_BUILD"
export VARNEL_BUILD_NICE=10
step "format" "$VARNEL_ROOT/scripts/check-format.sh"
step "unit and widget tests" ctest --output-on-failure -L 'unit|ui' -j "$jobs"
step "end-to-end (openbox)" ctest --output-on-failure --repeat until-pass:2 -L e2e
step "window managers" "$VARNEL_ROOT/scripts/test-window-managers.sh" "$TEST_BUILD"
step "wayland" "$VARNEL_ROOT/scripts/test-wayland.sh"
step "gnome" "$VARNEL_ROOT/scripts/test-gnome.sh"
step "input methods" "$VARNEL_ROOT/scripts/test-ime.sh"
step "debian package" env VARNEL_PACKAGE_BUILD="$TEST_BUILD" "$VARNEL_ROOT/scripts/test-package.sh"

echo "varnel: == the Windows and sanitizer track"
waited=$(date +%s)
wait $second || step_status=1
cat "$logs/windows.log"
echo "varnel: the Linux track waited $(($(date +%s) - waited)) s for it"
[ -f "$logs/steps" ] && mapfile -t -O ${#step_lines[@]} step_lines <"$logs/steps"
step_summary
echo "varnel: the whole command took $(($(date +%s) - began)) s"
if [ $step_status -ne 0 ]; then
    echo "varnel: some tests failed" >&2
fi
exit $step_status
