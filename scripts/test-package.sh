#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian (no errors), the desktop entry and AppStream
# validators. Then, as root and only where no varnel package is installed yet, installs it with
# apt-get, starts the installed program on a private X server (its window appears, it captures a
# text) and removes it again.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES $TEST_PACKAGES $PACKAGE_PACKAGES $PACKAGE_CHECK_PACKAGES
deb=$("$VARNEL_ROOT/scripts/package.sh" | tail -n 1)
status=0
echo "varnel: $(basename "$deb"): $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
lintian --fail-on error "$deb" 2>/dev/null || status=1
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/varnel.desktop" || status=1
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml || status=1

if [ "$(id -u)" -ne 0 ]; then
    echo "varnel: not root, so the package is not installed here"
    exit $status
fi
if dpkg-query -W -f='${Status}' varnel 2>/dev/null | grep -q 'install ok installed'; then
    echo "varnel: a varnel package is installed already; it is left alone and this one not installed"
    exit $status
fi
begin=$(date +%s%N)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null || status=1
echo "varnel: apt-get install took $((($(date +%s%N) - begin) / 1000000)) ms"
[ "$(varnel --version)" = "varnel $(dpkg-deb -f "$deb" Version)" ] || status=1
(cd "$VARNEL_ROOT/tests/e2e" && VARNEL_BIN=/usr/bin/varnel python3 check_installed.py) || status=1
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq varnel >/dev/null || status=1
if [ -e /usr/bin/varnel ] || [ -e /usr/share/applications/varnel.desktop ] || [ -d /usr/share/doc/varnel ]; then
    echo "varnel: files left after removing the package" >&2
    status=1
fi
[ $status -eq 0 ] || echo "varnel: the package check failed" >&2
exit $status
