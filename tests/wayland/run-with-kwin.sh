#!/usr/bin/env bash
# Runs a command inside a private headless KWin (kwin_wayland --virtual) with a D-Bus session of its
# own. KWin grants its window list, fake input and key states to the command's program (and to the
# programs named in VARNEL_KWIN_GRANTED, separated by colons) through desktop entries in a data folder of the
# session's own. KWin must be able to read a client's /proc/PID/exe to match it with a desktop entry,
# so as root both run as an unprivileged user made for the tests. /usr/bin/kwin_wayland carries a file
# capability that a container may not allow: a copy without it runs, under the same file name.
set -euo pipefail
kwin=$(command -v kwin_wayland || true)
if [ -z "$kwin" ] || ! command -v dbus-run-session >/dev/null; then
    echo "kwin_wayland or dbus-run-session is not installed: skipped" >&2
    exit 77
fi
runtime=$(mktemp -d /tmp/varnel-kwin.XXXXXX)
cleanup() { rm -rf "$runtime"; }
trap cleanup EXIT
mkdir -p "$runtime/bin" "$runtime/home/.config" "$runtime/xdg" "$runtime/data/applications"
# No window decorations: the default theme's QML takes KWin seconds of CPU for each new window. KWin
# paints with QPainter (KWIN_COMPOSE=Q below), which costs far less CPU than OpenGL on llvmpipe.
printf '[org.kde.kdecoration2]\nNoPlugin=true\n' >"$runtime/home/.config/kwinrc"
cp "$(readlink -f "$kwin")" "$runtime/bin/kwin_wayland"
granted=$1
[ -n "${VARNEL_KWIN_GRANTED:-}" ] && granted="$granted:$VARNEL_KWIN_GRANTED"
n=0
IFS=: read -ra programs <<<"$granted"
for program in "${programs[@]}"; do
    n=$((n + 1))
    printf '[Desktop Entry]\nType=Application\nName=granted %d\nExec=%s\nX-KDE-Wayland-Interfaces=%s\n' \
        "$n" "$(readlink -f "$program")" org_kde_plasma_window_management,org_kde_kwin_fake_input,org_kde_kwin_keystate \
        >"$runtime/data/applications/granted-$n.desktop"
done
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    user=varnel-kwin
    id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    chown -R "$user:" "$runtime"
    as_user=(setpriv "--reuid=$user" "--regid=$(id -g "$user")" --clear-groups)
fi
chmod 700 "$runtime/xdg"
chmod 755 "$runtime"
# KWin starts the command once it is ready (with XWayland where VARNEL_KWIN_XWAYLAND is set, DISPLAY
# then naming it) and ends when the command ends; its output and status come back through files.
{
    printf '#!/usr/bin/env bash\n'
    printf '%q ' "$@"
    printf '>%q 2>&1\necho $? >%q\n' "$runtime/output" "$runtime/status"
} >"$runtime/bin/session"
chmod 755 "$runtime/bin/session"
xwayland=()
[ -n "${VARNEL_KWIN_XWAYLAND:-}" ] && xwayland=(--xwayland)
status=0
"${as_user[@]}" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$runtime/home" XDG_RUNTIME_DIR="$runtime/xdg" \
    XDG_DATA_HOME="$runtime/data" XDG_DATA_DIRS=/usr/share XDG_CURRENT_DESKTOP=KDE QT_QPA_PLATFORM=wayland \
    GDK_BACKEND=wayland KWIN_COMPOSE=Q \
    ${VARNEL_BIN:+VARNEL_BIN="$VARNEL_BIN"} ${VARNEL_TARGET_TOOLKIT:+VARNEL_TARGET_TOOLKIT="$VARNEL_TARGET_TOOLKIT"} \
    ${VARNEL_BRIDGE_TRIES:+VARNEL_BRIDGE_TRIES="$VARNEL_BRIDGE_TRIES"} \
    dbus-run-session -- "$runtime/bin/kwin_wayland" --virtual "${xwayland[@]}" --socket wayland-varnel \
    --no-lockscreen --no-global-shortcuts --no-kactivities --width 1024 --height 768 \
    --exit-with-session "$runtime/bin/session" >"$runtime/kwin.log" 2>&1 || true
cat "$runtime/output" 2>/dev/null || true
status=$(cat "$runtime/status" 2>/dev/null || echo 1)
[ "$status" -ne 0 ] && tail -n 20 "$runtime/kwin.log" >&2
exit "$status"
