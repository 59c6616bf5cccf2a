#!/usr/bin/env bash
# Runs a command under a private Xvfb + openbox with an input method (fcitx5 or ibus, with mozc, or
# none at all) and its own session bus. mozc refuses to run as root and ibus's clients refuse a daemon of another
# user, so the bus, the input method and the command all run as an unprivileged user made for the
# tests. The bus has no service directories: nothing can be started on it behind the test's back.
# It has a desktop session bus's limits, not dbus-daemon's built-in ones: those let a connection wait
# for 128 answers at most, and fcitx5's GTK module, which asks fcitx5 about every key event without
# waiting, has far more in flight during a long typing; the bus refuses the rest with an error, which
# the module takes for "not handled" and types at once, ahead of the keys still at fcitx5.
# The Qt target window named in VARNEL_IME_QT_TARGET is copied with the test.
# Usage: run-with-ime.sh fcitx5|ibus|none COMMAND...
set -euo pipefail
im=$1
shift
tools=(Xvfb openbox dbus-daemon)
[ "$im" = none ] || tools+=("$im")
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped" >&2; exit 77; }
done
run=$(mktemp -d /tmp/varnel-ime.XXXXXX)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    user=varnel-ime
    id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    as_user=(setpriv "--reuid=$user" "--regid=$(id -g "$user")" --clear-groups)
    chown "$user:" "$run"
    # That user may not reach the build (root's home is closed): the test and its target windows are
    # run from copies.
    mkdir "$run/bin"
    cp "$1" "$(dirname "${BASH_SOURCE[0]}")"/*_target.* ${VARNEL_IME_QT_TARGET:+"$VARNEL_IME_QT_TARGET"} "$run/bin/"
    chmod -R a+rX "$run/bin"
    export VARNEL_IME_TEST_DIR=$run/bin
    [ -z "${VARNEL_IME_QT_TARGET:-}" ] || export VARNEL_IME_QT_TARGET=$run/bin/${VARNEL_IME_QT_TARGET##*/}
    set -- "$run/bin/$(basename "$1")" "${@:2}"
fi
chmod 755 "$run"
mkdir -p "$run/home" && chmod 700 "$run/home" && [ ${#as_user[@]} -eq 0 ] || chown "$user:" "$run/home"

fifo=$run/displayfd
mkfifo "$fifo"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -ac 5>"$fifo" 2>/dev/null &
pids+=($!)
read -r -t 10 display <"$fifo"
export DISPLAY=":$display"
cat >"$run/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:path=$run/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
  <limit name="max_replies_per_connection">50000</limit>
  <limit name="max_match_rules_per_connection">50000</limit>
  <limit name="max_names_per_connection">50000</limit>
  <limit name="max_incoming_bytes">1000000000</limit>
  <limit name="max_outgoing_bytes">1000000000</limit>
  <limit name="max_message_size">1000000000</limit>
</busconfig>
CONF
export HOME=$run/home XDG_RUNTIME_DIR=$run/home XDG_CONFIG_HOME=$run/home/.config
export DBUS_SESSION_BUS_ADDRESS=unix:path=$run/bus LANG=C.UTF-8
"${as_user[@]}" dbus-daemon --config-file="$run/bus.conf" --nofork --nopidfile 2>/dev/null &
pids+=($!)
"${as_user[@]}" openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -S "$run/bus" ] && xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
case $im in
fcitx5)
    export XMODIFIERS=@im=fcitx GTK_IM_MODULE=fcitx QT_IM_MODULE=fcitx
    mkdir -p "$XDG_CONFIG_HOME/fcitx5"
    printf '[Groups/0]\nName=Default\nDefault Layout=jp\nDefaultIM=mozc\n[Groups/0/Items/0]\nName=keyboard-jp\nLayout=\n[Groups/0/Items/1]\nName=mozc\nLayout=\n[GroupOrder]\n0=Default\n' \
        >"$XDG_CONFIG_HOME/fcitx5/profile"
    [ ${#as_user[@]} -eq 0 ] || chown -R "$user:" "$run/home"
    "${as_user[@]}" fcitx5 --disable=all --enable=xcb,xim,dbus,dbusfrontend,mozc,keyboard,imselector >"$run/im.log" 2>&1 &
    pids+=($!)
    ;;
ibus)
    export XMODIFIERS=@im=ibus GTK_IM_MODULE=ibus QT_IM_MODULE=ibus GSETTINGS_BACKEND=memory
    # mozc starts in hiragana, as the fcitx5 one does, instead of direct input.
    mkdir -p "$XDG_CONFIG_HOME/mozc"
    printf 'engines {\n  name: "mozc-jp"\n  longname: "Mozc"\n  layout: "default"\n  rank: 80\n}\nactive_on_launch: True\n' \
        >"$XDG_CONFIG_HOME/mozc/ibus_config.textproto"
    [ ${#as_user[@]} -eq 0 ] || chown -R "$user:" "$run/home"
    "${as_user[@]}" ibus-daemon --xim --panel=disable --emoji-extension=disable >"$run/im.log" 2>&1 &
    pids+=($!)
    ;;
none)
    unset XMODIFIERS GTK_IM_MODULE QT_IM_MODULE
    : >"$run/im.log"
    ;;
esac
export VARNEL_IME=$im VARNEL_IME_LOG=$run/im.log
status=0
"${as_user[@]}" "$@" || status=$?
[ $status -ne 0 ] && tail -n 20 "$run/im.log" >&2
exit $status
