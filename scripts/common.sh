# Shared by run.sh and test.sh: installs what is missing from Debian's packages and builds.
set -euo pipefail

VARNEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libx11-dev libxtst-dev
    libxfixes-dev libicu-dev fonts-ipafont-gothic libwayland-dev libxkbcommon-dev plasma-wayland-protocols"
TEST_PACKAGES="libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev xvfb xauth openbox xdotool xclip tk x11-utils
    x11-xserver-utils xterm python3 procps python3-pyatspi at-spi2-core dbus parcellite clang-format"
# The native Wayland backend (built when libwayland-dev, libxkbcommon-dev and plasma-wayland-protocols
# are present) is tested in a headless sway and a headless KWin (with GTK 3 targets), and its fallbacks
# in a headless weston (which offers none of its protocols).
WAYLAND_TEST_PACKAGES="sway weston wl-clipboard qt6-wayland kwin-wayland dbus-daemon python3-gi gir1.2-gtk-3.0"
# The GNOME Shell extension and its backends in a headless GNOME Shell (scripts/test-gnome.sh), with
# GTK 3 Wayland-native targets; node checks the extension's module form.
GNOME_TEST_PACKAGES="gnome-shell xdg-desktop-portal xwayland dbus-x11 python3-gi gir1.2-gtk-3.0 qt6-wayland nodejs"
# Keystroke sends with a Japanese input method switched on in the target (scripts/test-ime.sh):
# fcitx5 and ibus with mozc, GTK3 targets through their input method modules, Tk through XIM.
IME_TEST_PACKAGES="dbus-daemon fcitx5 fcitx5-mozc fcitx5-frontend-gtk3 fcitx5-frontend-qt6 ibus ibus-mozc ibus-gtk3 python3-gi gir1.2-gtk-3.0"
PACKAGE_PACKAGES="dpkg-dev file"
PACKAGE_CHECK_PACKAGES="lintian desktop-file-utils appstream"
# The other window managers the end-to-end tests run under (scripts/test-window-managers.sh), and a
# clipboard manager that refills a cleared clipboard (the tests that need it skip without it).
WM_PACKAGES="metacity xfwm4 icewm fluxbox mutter i3-wm dbus-daemon"
# The Windows program's release build, its installer and zip (scripts/package-windows.sh; the host
# compiler and ICU build the case table generator), and the installer's check under Wine
# (scripts/test-windows-package.sh).
WINDOWS_BUILD_PACKAGES="g++-mingw-w64-x86-64-posix g++ cmake ninja-build libicu-dev"
WINDOWS_PACKAGE_PACKAGES="nsis icoutils"
WINDOWS_PACKAGE_CHECK_PACKAGES="wine wine64"
# The Windows program's tests under Wine (scripts/test-windows.sh) and end to end (test-windows-e2e.sh).
WINDOWS_TEST_PACKAGES="g++-mingw-w64-x86-64-posix wine wine64 googletest libicu-dev cmake ninja-build xvfb
    xauth xclip python3 fonts-ipafont-gothic"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "varnel: installing packages needs root; run as root or install sudo" >&2
        exit 1
    fi
}

# Installs the named packages that are not installed yet; does nothing when all are there.
install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "varnel: installing ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
}

# The Windows program's build folder, shared by its tests (test-windows.sh, test-windows-e2e.sh) and
# its packages (package-windows.sh): one release build serves all three.
WINDOWS_BUILD="$VARNEL_ROOT/build-windows-release"
# configure_windows [cmake options...]: configures that folder for MinGW-w64.
configure_windows() {
    cmake -S "$VARNEL_ROOT" -B "$WINDOWS_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$VARNEL_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVARNEL_QT=OFF "$@" >/dev/null
}

# start_wine_on_own_display NAME SIZE: a Wine prefix of its own (WINEPREFIX, a new temporary folder
# named after NAME) and a private Xvfb of SIZE (WxH) as DISPLAY. When the script exits, the prefix's
# Wine server ends (only that one), the Xvfb stops and the prefix is deleted.
start_wine_on_own_display() {
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    wine_xvfb_pid=
    trap stop_wine_and_display EXIT
    # The X server takes a free display number and writes it into a file once it is ready.
    Xvfb -displayfd 3 -screen 0 "$2x24" -nolisten tcp 3>"$WINEPREFIX/display" >/dev/null 2>&1 &
    wine_xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$WINEPREFIX/display" ] && break
        sleep 0.1
    done
    local number
    number=$(cat "$WINEPREFIX/display")
    if [ -z "$number" ]; then
        echo "varnel: Xvfb did not start" >&2
        exit 1
    fi
    export DISPLAY=":$number"
}

stop_wine_and_display() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$wine_xvfb_pid" ] && kill "$wine_xvfb_pid" 2>/dev/null
    rm -rf "$WINEPREFIX"
}

# run_build DIR [cmake --build options...]: builds, at the priority VARNEL_BUILD_NICE gives (test.sh
# lowers it for the builds that run beside end-to-end tests).
run_build() {
    nice -n "${VARNEL_BUILD_NICE:-0}" cmake --build "$@"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$VARNEL_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    run_build "$dir"
}

# Debian's hardening flags (fortified functions, relro and bindnow, stack protector): the package is
# built with them (package.sh), and so is the tested build, which the package's check packs.
use_package_flags() {
    DEB_BUILD_MAINT_OPTIONS=hardening=+all
    export DEB_BUILD_MAINT_OPTIONS
    CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
    export CXXFLAGS LDFLAGS
}

# The build every Linux test runs on (test.sh, test-wayland.sh), with the tests and benchmarks:
# optimised, with debugging information and the package's hardening flags.
TEST_BUILD="$VARNEL_ROOT/build-test"
build_for_tests() {
    (use_package_flags && configure_and_build "$TEST_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo)
}

# step NAME COMMAND...: runs one step of a longer script, prints how long it took and remembers the
# time and the outcome for step_summary; a failed step sets step_status to 1 and the script goes on.
step_status=0
step_lines=()
step() {
    local name=$1 began rc
    shift
    began=$(date +%s)
    echo "varnel: == $name"
    rc=0
    "$@" || rc=$?
    local seconds=$(($(date +%s) - began))
    if [ $rc -eq 0 ]; then
        step_lines+=("$(printf '%5d s  %-28s ok' "$seconds" "$name")")
    else
        step_lines+=("$(printf '%5d s  %-28s FAILED' "$seconds" "$name")")
        step_status=1
    fi
    echo "varnel: == $name: $seconds s, exit status $rc"
    return 0
}
step_summary() {
    echo "varnel: time per step"
    printf '%s\n' "${step_lines[@]}"
}
