#!/usr/bin/env bash
# Varnel on a compositor without data-control, foreign-toplevel and virtual keyboard (a headless
# weston): it starts, keeps running, and says once what it cannot do. Argument: the varnel binary.
set -euo pipefail
if ! command -v weston >/dev/null; then
    echo "weston is not installed: skipped" >&2
    exit 77
fi
varnel=$1
runtime=$(mktemp -d /tmp/varnel-weston.XXXXXX)
chmod 700 "$runtime"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
    rm -rf "$runtime"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-varnel QT_QPA_PLATFORM=wayland HOME=$runtime
unset DISPLAY
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 >"$runtime/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -S "$runtime/$WAYLAND_DISPLAY" ] && break
    sleep 0.1
done
"$varnel" >"$runtime/varnel.log" 2>&1 &
pids+=($!)
sleep 3
if ! kill -0 "${pids[1]}" 2>/dev/null; then
    echo "varnel did not keep running:" >&2
    cat "$runtime/varnel.log" >&2
    exit 1
fi
said=$(grep -c "does not offer everything Varnel needs" "$runtime/varnel.log" || true)
if [ "$said" != 1 ] || ! grep -q "Sending slots and converting selections need" "$runtime/varnel.log"; then
    echo "expected the message once, got:" >&2
    cat "$runtime/varnel.log" >&2
    exit 1
fi
echo "varnel runs without the protocols and said so once"
