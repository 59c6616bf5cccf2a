#!/usr/bin/env bash
# Builds the Debian package varnel_<version>_<arch>.deb in build-package/ (release build, no tests).
# Install it with: apt-get install ./build-package/varnel_*.deb
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $PACKAGE_PACKAGES
dir="$VARNEL_ROOT/build-package"
rm -f "$dir"/varnel_*.deb
# Debian's hardening flags (fortified functions, relro and bindnow, stack protector).
DEB_BUILD_MAINT_OPTIONS=hardening=+all
export DEB_BUILD_MAINT_OPTIONS
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_BENCH=OFF
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/varnel_*.deb
