#!/usr/bin/env bash
# Builds the Windows installer (scripts/package-windows.sh) and tries it under Wine, in a Wine prefix
# made for the run in a temporary folder and deleted afterwards: a silent installation must give the
# program, its uninstaller, a Start menu shortcut and the uninstall registry entry, and Windows must
# read the installed program's version information and icon; a silent uninstallation must remove
# them all again. Prints the packages' sizes and how long each step took. Run by test.sh; can run on
# its own. Needs no display: nothing here opens a window.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $WINDOWS_BUILD_PACKAGES $WINDOWS_PACKAGE_PACKAGES $WINDOWS_PACKAGE_CHECK_PACKAGES
began=$(date +%s%N)
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

mapfile -t packages < <("$VARNEL_ROOT/scripts/package-windows.sh")
setup=${packages[0]}
version=$(sed -n 's/^project(Varnel VERSION \([0-9.]*\).*/\1/p' "$VARNEL_ROOT/CMakeLists.txt")
company=$(sed -n 's/^Copyright: *[0-9, -]*//p' "$VARNEL_ROOT/packaging/copyright" | head -n 1)
echo "varnel: packages built in $(ms_since "$began") ms"

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-wine-package.XXXXXX")
WINEPREFIX="$work/prefix"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    wineserver -k >/dev/null 2>&1 || true  # only the server of this prefix
    rm -rf "$work"
}
trap cleanup EXIT

# Windows' own reading of the version information, by a small program built here.
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -static -municode \
    -o "$work/version_info.exe" "$VARNEL_ROOT/tests/windows/version_info.cpp" -lversion

step=$(date +%s%N)
wine wineboot --init </dev/null >"$work/wineboot.log" 2>&1 || {
    cat "$work/wineboot.log" >&2
    exit 1
}
echo "varnel: Wine prefix made in $(ms_since "$step") ms"

status=0
fail() {
    echo "varnel: $*" >&2
    status=1
}
# The Unix path of a folder that a Windows environment variable names.
unix_folder() { winepath -u "$(wine cmd /c echo "%$1%" </dev/null | tr -d '\r')" | sed 's|/$||'; }
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel'
reg_value() { wine reg query "$key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
folder="$(unix_folder LOCALAPPDATA)/Programs/Varnel"
shortcut="$(unix_folder APPDATA)/Microsoft/Windows/Start Menu/Programs/Varnel.lnk"

step=$(date +%s%N)
wine "$setup" /S </dev/null || fail "the silent installation failed (exit status $?)"
echo "varnel: silent installation took $(ms_since "$step") ms"
for file in varnel.exe uninstall.exe README.txt LICENSE.txt; do
    [ -f "$folder/$file" ] || fail "$file is not in $folder"
done
if [ ! -f "$shortcut" ]; then
    fail "no Start menu shortcut at $shortcut"
elif ! grep -qa 'Programs\\Varnel\\varnel.exe' "$shortcut"; then
    fail "the Start menu shortcut does not lead to the installed varnel.exe"
fi
location=$(reg_value InstallLocation)
[ "$(winepath -u "$location" 2>/dev/null | sed 's|/$||')" = "$folder" ] ||
    fail "the uninstall entry names '$location' as the installation"
[ "$(reg_value DisplayVersion)" = "$version" ] || fail "the uninstall entry has version '$(reg_value DisplayVersion)'"
[ "$(reg_value QuietUninstallString)" = "\"$location\\uninstall.exe\" /S" ] ||
    fail "the uninstall entry's silent command is '$(reg_value QuietUninstallString)'"

info=$(wine "$work/version_info.exe" "$location\\varnel.exe" </dev/null | tr -d '\r') || fail "no version information"
expected_fixed=$(IFS=.; read -ra n <<<"$version"; echo "${n[0]:-0}.${n[1]:-0}.${n[2]:-0}.${n[3]:-0}")
for line in "ProductName=Varnel" "ProductVersion=$version" "FileVersion=$version" "FixedFileVersion=$expected_fixed" \
    "CompanyName=$company" "OriginalFilename=varnel.exe"; do
    grep -qxF "$line" <<<"$info" || fail "the installed varnel.exe lacks $line in its version information"
done
grep -qx 'Icons=[1-9][0-9]*' <<<"$info" || fail "the installed varnel.exe has no icon"

# An update: the same installer again over the installed program, into the same folder.
step=$(date +%s%N)
wine "$setup" /S </dev/null || fail "the silent installation over an installed Varnel failed (exit status $?)"
echo "varnel: silent installation over the installed program took $(ms_since "$step") ms"
if [ ! -f "$folder/varnel.exe" ] || [ "$(reg_value InstallLocation)" != "$location" ]; then
    fail "the installation over the installed program went elsewhere"
fi

# The uninstaller copies itself to the temporary folder and runs from there, so the wine command
# returns before it is done: wait (bounded) until everything is gone.
step=$(date +%s%N)
wine "$folder/uninstall.exe" /S </dev/null || fail "the silent uninstallation failed (exit status $?)"
deadline=$(($(date +%s) + 30))
while [ "$(date +%s)" -lt $deadline ]; do
    if [ ! -e "$folder" ] && [ ! -e "$shortcut" ] && ! wine reg query "$key" </dev/null >/dev/null 2>&1; then
        break
    fi
    sleep 0.1
done
echo "varnel: silent uninstallation took $(ms_since "$step") ms"
[ ! -e "$folder" ] || fail "left after uninstalling: $(find "$folder" -mindepth 1 -printf '%f ')"
[ ! -e "$shortcut" ] || fail "the Start menu shortcut is left after uninstalling"
! wine reg query "$key" </dev/null >/dev/null 2>&1 || fail "the uninstall entry is left after uninstalling"

echo "varnel: the Windows package check took $(ms_since "$began") ms"
[ $status -eq 0 ] || echo "varnel: the Windows package check failed" >&2
exit $status
