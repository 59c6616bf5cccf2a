#!/usr/bin/env bash
# Builds the Windows program for release with MinGW-w64 and packs it, in build-windows-release/:
#   varnel-<version>-setup.exe  installer (per user, no administrator rights needed)
#   varnel-<version>.zip        varnel.exe with README.txt and LICENSE.txt
# Checks that varnel.exe is a stripped GUI program that imports only Windows' own DLLs and carries its
# icon and version information. Prints the two files' paths, the installer first.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $WINDOWS_BUILD_PACKAGES $WINDOWS_PACKAGE_PACKAGES
dir="$WINDOWS_BUILD"
rm -f "$dir"/varnel-*-setup.exe "$dir"/varnel-*.zip
# The Windows program is built without Qt (VARNEL_QT=OFF). Where the tests have built in the folder,
# the program is theirs: the options that shape it are the same.
configure_windows -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_BENCH=OFF
if ! ninja -C "$dir" -t query varnel_setup >/dev/null 2>&1; then
    echo "varnel: the Windows build has no varnel program (target varnel) to pack" >&2
    exit 1
fi
run_build "$dir" --target varnel_setup varnel_zip >&2

version=$(sed -n 's/^project(Varnel VERSION \([0-9.]*\).*/\1/p' "$VARNEL_ROOT/CMakeLists.txt")
exe="$dir/packaging/windows/varnel-$version/varnel.exe"
status=0
fail() {
    echo "varnel: varnel.exe: $*" >&2
    status=1
}
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "not a GUI program"
# Every DLL the compiler's own folders hold (libstdc++, libgcc, winpthread, zlib...) is one a user's
# Windows lacks: none may be imported.
mapfile -t toolchain_dlls < <(find /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32 -iname '*.dll' \
    -printf '%f\n' 2>/dev/null | tr '[:upper:]' '[:lower:]' | sort -u)
while read -r dll; do
    for own in "${toolchain_dlls[@]}"; do
        if [ "${dll,,}" = "$own" ]; then
            fail "imports $dll, which Windows does not have"
        fi
    done
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
if x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug'; then
    fail "not stripped"
fi
wrestool -l --type=14 "$exe" | grep -q . || fail "has no icon"
wrestool -l --type=16 "$exe" | grep -q . || fail "has no version information"
[ $status -eq 0 ] || exit 1
echo "varnel: varnel.exe imports $(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '\n' ' ')" >&2
for f in "$dir/varnel-$version-setup.exe" "$dir/varnel-$version.zip" "$exe"; do
    echo "varnel: $(basename "$f"): $(stat -c %s "$f") bytes" >&2
done
echo "$dir/varnel-$version-setup.exe"
echo "$dir/varnel-$version.zip"
