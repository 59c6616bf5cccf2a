#!/usr/bin/env bash
# Builds the Debian package varnel_<version>_<arch>.deb in build-package/ (release build, no tests).
# Install it with: apt-get install ./build-package/varnel_*.deb
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $PACKAGE_PACKAGES
# VARNEL_PACKAGE_BUILD names another build made with the same hardening flags to pack instead (test.sh
# packs the build its tests ran on).
dir="${VARNEL_PACKAGE_BUILD:-$VARNEL_ROOT/build-package}"
rm -f "$dir"/varnel_*.deb
if [ -z "${VARNEL_PACKAGE_BUILD:-}" ]; then
    use_package_flags
    configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_BENCH=OFF
fi
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/varnel_*.deb
