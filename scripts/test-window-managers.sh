#!/usr/bin/env bash
# Runs the end-to-end suites whose outcome depends on the window manager (ctest label wm) once more
# under each other common X11 window manager (test.sh has run every suite under openbox).
# Usage: test-window-managers.sh BUILD_DIR [MANAGER...]; with no manager named, all of them. Exits
# non-zero when a run failed; every manager is tried in any case.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $WM_PACKAGES
build=$1
shift
managers=("$@")
[ ${#managers[@]} -gt 0 ] || managers=(metacity xfwm4 icewm fluxbox mutter i3)
status=0
for wm in "${managers[@]}"; do
    echo "varnel: end-to-end tests under $wm"
    # As under openbox, a test that fails is run once more; both runs stay in the log.
    VARNEL_E2E_WM=$wm ctest --test-dir "$build" --output-on-failure --repeat until-pass:2 -L wm || {
        echo "varnel: end-to-end tests failed under $wm" >&2
        status=1
    }
done
exit $status
