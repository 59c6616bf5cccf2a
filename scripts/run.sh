#!/usr/bin/env bash
# Installs what Varnel needs, builds it and starts it. Any argument is passed on: the slot file.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck disable=SC2086
install_packages $BUILD_PACKAGES
configure_and_build "$VARNEL_ROOT/build" -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_BENCH=OFF
if [ -z "${DISPLAY:-}" ]; then
    echo "varnel: no display. Varnel is a desktop program: start it inside an X11 session (DISPLAY is not set)." >&2
    exit 2
fi
exec "$VARNEL_ROOT/build/app/varnel" "$@"
