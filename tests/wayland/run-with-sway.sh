#!/usr/bin/env bash
# Runs a command inside a private headless sway. sway refuses to run as root: as root it runs as an
# unprivileged user made for the tests, with a runtime directory of its own; the command runs as the
# caller and reaches the compositor through an absolute WAYLAND_DISPLAY.
set -euo pipefail
if ! command -v sway >/dev/null; then
    echo "sway is not installed: skipped" >&2
    exit 77
fi
runtime=$(mktemp -d /tmp/varnel-sway.XXXXXX)
sway_pid=
cleanup() {
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null && wait "$sway_pid" 2>/dev/null || true
    rm -rf "$runtime"
}
trap cleanup EXIT
mkdir -m 700 "$runtime/sway" "$runtime/client"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    user=varnel-sway
    id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    chown "$user:" "$runtime/sway"
    as_user=(setpriv "--reuid=$user" "--regid=$(id -g "$user")" --clear-groups)
fi
printf 'output HEADLESS-1 resolution 1280x800\ndefault_border none\n' >"$runtime/sway.config"
chmod 644 "$runtime/sway.config"
chmod 711 "$runtime"
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$runtime/sway" XDG_RUNTIME_DIR="$runtime/sway" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$runtime/sway.config" >"$runtime/sway.log" 2>&1 &
sway_pid=$!
for _ in $(seq 100); do
    socket=$(find "$runtime/sway" -maxdepth 1 -name 'wayland-*' -type s 2>/dev/null | head -n1)
    ipc=$(find "$runtime/sway" -maxdepth 1 -name 'sway-ipc.*.sock' 2>/dev/null | head -n1)
    [ -n "$socket" ] && [ -n "$ipc" ] && break
    sleep 0.1
done
if [ -z "${socket:-}" ] || [ -z "${ipc:-}" ]; then
    echo "headless sway did not start:" >&2
    cat "$runtime/sway.log" >&2
    exit 1
fi
export WAYLAND_DISPLAY=$socket SWAYSOCK=$ipc XDG_RUNTIME_DIR=$runtime/client QT_QPA_PLATFORM=wayland
unset DISPLAY
status=0
"$@" || status=$?
[ $status -ne 0 ] && tail -n 20 "$runtime/sway.log" >&2
exit $status
