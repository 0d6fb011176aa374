#!/bin/bash
# The longest main-thread stall of each window command (wl_command_stalls):
# the shown window on Xvfb with a private PulseAudio server (null sink) and a
# private session bus, playing copies of the demo file.
# Usage: bench/command_stalls.sh [build-dir] [rounds]
set -eu
build=${1:-build}
rounds=${2:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
exe="$build/bench/wl_command_stalls"
[ -x "$exe" ] || { echo "wl_command_stalls not built in $build" >&2; exit 1; }
for tool in Xvfb dbus-daemon pulseaudio; do
    command -v "$tool" >/dev/null || { echo "$tool missing (apt-get install xvfb dbus pulseaudio)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
wait_for() {
    for _ in $(seq 50); do
        [ -s "$1" ] || [ -S "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for "$work/bus" || { echo "dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
pa="$work/pulse"
mkdir -p "$pa/runtime"
chmod 700 "$pa/runtime"
HOME=$pa XDG_RUNTIME_DIR=$pa XDG_CONFIG_HOME=$pa PULSE_RUNTIME_PATH=$pa/runtime PULSE_STATE_PATH=$pa/runtime \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no --system=false \
    --realtime=no --high-priority=no --log-target=stderr --load=module-null-sink \
    --load="module-native-protocol-unix socket=$pa/native auth-anonymous=1" >"$work/pulse.log" 2>&1 &
pids+=($!)
wait_for "$pa/native" || { echo "pulseaudio did not start" >&2; exit 1; }
export PULSE_SERVER="unix:$pa/native" WAVELANTERN_AUDIO=pulse WAVELANTERN_HOME="$work/home"
mkdir -p "$WAVELANTERN_HOME"
for n in 1 2 3 4; do cp "$root/demo/wavelantern-demo.mp3" "$work/song$n.mp3"; done
"$exe" "$rounds" "$work"/song{1,2,3,4}.mp3
