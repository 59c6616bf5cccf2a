#!/usr/bin/env bash
# Runs a command beside a private headless GNOME Shell with Varnel's extension installed per user (by
# `varnel --gnome-extension install`) and enabled, in a home folder made for the run.
#
#   run-with-gnome-shell.sh VARNEL COMMAND...
#
# The shell needs a system bus and must not find logind, and its XWayland takes the first free X
# display: it runs in private mount and network namespaces with a system bus of its own, a tmpfs over
# /run/systemd and an X socket folder of its own. The command runs in the same namespaces with
# WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS and HOME set for that session.
set -euo pipefail
if ! command -v gnome-shell >/dev/null; then
    echo "gnome-shell is not installed: skipped" >&2
    exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "the private namespaces need root: skipped" >&2
    exit 77
fi
if [ -z "${VARNEL_GNOME_NAMESPACES:-}" ]; then
    exec unshare -m -n env VARNEL_GNOME_NAMESPACES=1 "$0" "$@"
fi
varnel=$1
shift
mount --make-rprivate /
for dir in /run/systemd /run/dbus /tmp/.X11-unix; do
    mkdir -p "$dir"
    mount -t tmpfs tmpfs "$dir"
done
chmod 1777 /tmp/.X11-unix
home=$(mktemp -d /tmp/varnel-gnome.XXXXXX)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    # What the shell started (XWayland, its helpers) runs in this network namespace too, and only that.
    local own_net
    own_net=$(readlink /proc/$$/ns/net)
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        if [ "$pid" != $$ ] && [ "$(readlink "$dir/ns/net" 2>/dev/null)" = "$own_net" ]; then
            kill "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$home"
}
trap cleanup EXIT

dbus-daemon --system --nofork --nopidfile >"$home/system-bus.log" 2>&1 &
pids+=($!)
mkdir -m 700 "$home/run"
export HOME=$home XDG_RUNTIME_DIR=$home/run XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=keyfile NO_AT_BRIDGE=1
unset DISPLAY WAYLAND_DISPLAY
export DBUS_SESSION_BUS_ADDRESS=unix:path=$home/run/bus
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" >"$home/session-bus.log" 2>&1 &
pids+=($!)

"$varnel" --gnome-extension install >"$home/install.log" 2>&1 || {
    echo "varnel --gnome-extension install failed:" >&2
    cat "$home/install.log" >&2
    exit 1
}
uuid=$(sed -n 's/.*"uuid": *"\([^"]*\)".*/\1/p' "$XDG_DATA_HOME"/gnome-shell/extensions/*/metadata.json | head -n1)
# The shell starts in the overview, where new windows do not get the focus: a second extension, made
# for the tests, leaves it once the shell has started.
helper=$XDG_DATA_HOME/gnome-shell/extensions/varnel-test-helper@example.org
mkdir -p "$helper"
cat >"$helper/metadata.json" <<'JSON'
{"uuid": "varnel-test-helper@example.org", "name": "Varnel test helper", "description": "Leaves the overview.",
 "shell-version": ["43", "44"]}
JSON
cat >"$helper/extension.js" <<'JS'
const Main = imports.ui.main;
function init() {
    return {
        enable() {
            if (Main.layoutManager._startingUp)
                Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
            else
                Main.overview.hide();
        },
        disable() {},
    };
}
JS
mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings"
printf "[org/gnome/shell]\nenabled-extensions=['%s', 'varnel-test-helper@example.org']\nwelcome-dialog-last-shown-version='999'\n" \
    "$uuid" >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"

for _ in $(seq 50); do
    [ -S "$home/run/bus" ] && [ -S /run/dbus/system_bus_socket ] && break
    sleep 0.1
done
gnome-shell --headless --wayland --wayland-display varnel-gnome --virtual-monitor 1024x768 >"$home/shell.log" 2>&1 &
pids+=($!)
shell_ready=
for _ in $(seq 200); do
    if [ -S "$XDG_RUNTIME_DIR/varnel-gnome" ] &&
        gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.NameHasOwner org.example.varnel.Shell 2>/dev/null | grep -q true; then
        shell_ready=1
        break
    fi
    sleep 0.1
done
# The first answer of a shell that has just started can take a while on a busy machine.
if [ -n "$shell_ready" ]; then
    shell_ready=
    for _ in $(seq 40); do
        if gdbus call --session --timeout 5 --dest org.example.varnel.Shell --object-path /org/example/varnel/Shell \
            --method org.example.varnel.Shell1.ClipboardState >/dev/null 2>&1; then
            shell_ready=1
            break
        fi
        sleep 0.5
    done
fi
if [ -z "$shell_ready" ]; then
    echo "the headless GNOME Shell did not start or did not load the extension:" >&2
    tail -n 40 "$home/shell.log" >&2
    exit 1
fi
export WAYLAND_DISPLAY=varnel-gnome GDK_BACKEND=wayland
# The shell's XWayland, for the fallback: its display and the authority file mutter made for it.
XWAYLAND_DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$home/shell.log" | head -n1)
XAUTHORITY=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -name '.mutter-Xwaylandauth.*' | head -n1)
export XWAYLAND_DISPLAY XAUTHORITY
status=0
"$@" || status=$?
if [ $status -ne 0 ] || [ -n "${VARNEL_GNOME_SHOW_LOG:-}" ]; then
    tail -n 40 "$home/shell.log" >&2
fi
exit $status
