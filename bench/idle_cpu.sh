#!/bin/bash
# CPU use of the shown main window on Xvfb, as on a desktop: a private
# session bus (the media controls are on) and a private PulseAudio server
# with a null sink. Measured states, each after 5 s of settling:
#   stopped  nothing loaded
#   playing  the demo file through PulseAudio
#   paused   the same, paused through the media controls
#   null     playing through the null device (no sound server)
# Prints the share of one core per state, from utime + stime in /proc (10 ms
# ticks: over 30 s one tick is 0.03 %).
# Without pulseaudio only "stopped" and "null" are measured.
# Usage: bench/idle_cpu.sh [build-dir] [seconds]
set -eu
build=${1:-build}
secs=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
exe="$build/app/wavelantern"
[ -x "$exe" ] || exe="$build/wavelantern"
[ -x "$exe" ] || { echo "wavelantern not built in $build" >&2; exit 1; }
for tool in Xvfb dbus-daemon dbus-send; do
    command -v "$tool" >/dev/null || { echo "$tool missing (apt-get install xvfb dbus)" >&2; exit 1; }
done
demo="$root/demo/wavelantern-demo.mp3"

work=$(mktemp -d)
pids=()
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# waits until file $1 is not empty (or a socket exists)
wait_for() {
    for _ in $(seq 50); do
        [ -s "$1" ] || [ -S "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# Xvfb picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for "$work/bus" || { echo "dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")

pulse=
if command -v pulseaudio >/dev/null; then
    pa="$work/pulse"
    mkdir -p "$pa/runtime"
    chmod 700 "$pa/runtime"
    HOME=$pa XDG_RUNTIME_DIR=$pa XDG_CONFIG_HOME=$pa PULSE_RUNTIME_PATH=$pa/runtime PULSE_STATE_PATH=$pa/runtime \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no --system=false \
        --disable-shm=yes --realtime=no --high-priority=no --log-target=stderr --load=module-null-sink \
        --load="module-native-protocol-unix socket=$pa/native auth-anonymous=1" >"$work/pulse.log" 2>&1 &
    pids+=($!)
    wait_for "$pa/native" && pulse="unix:$pa/native"
    [ -n "$pulse" ] || echo "pulseaudio did not start; measuring without it" >&2
fi

ticks=$(getconf CLK_TCK)
# utime + stime of process $1 in clock ticks
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# share of one core used by the program over $secs seconds, in per cent
measure() {
    local a b t0 t1
    a=$(cpu "$app")
    t0=$(date +%s.%N)
    sleep "$secs"
    b=$(cpu "$app")
    t1=$(date +%s.%N)
    awk -v a="$a" -v b="$b" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
        'BEGIN { printf "%.2f", (b - a) / hz / (t1 - t0) * 100 }'
}
# starts the program with its own app folder; $1: folder, $2: sound device,
# rest: arguments
start() {
    local home=$1 audio=$2
    shift 2
    mkdir -p "$home"
    PULSE_SERVER=$pulse WAVELANTERN_HOME=$home WAVELANTERN_AUDIO=$audio QT_QPA_PLATFORM=xcb \
        "$exe" "$@" >"$home/out.txt" 2>&1 &
    app=$!
    sleep 5
    kill -0 "$app" 2>/dev/null || { echo "wavelantern did not start:" >&2; cat "$home/out.txt" >&2; exit 1; }
}
stop() {
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    app=
}
mpris() {
    dbus-send --session --type=method_call --dest=org.mpris.MediaPlayer2.wavelantern \
        /org/mpris/MediaPlayer2 "org.mpris.MediaPlayer2.Player.$1"
}

# Four times the demo: longer than the measurements.
printf '%s\n%s\n%s\n%s\n' "$demo" "$demo" "$demo" "$demo" >"$work/demo.m3u"

start "$work/stopped" null
echo "stopped: $(measure) % of one core"
stop

if [ -n "$pulse" ]; then
    start "$work/playing" pulse "$work/demo.m3u"
    echo "playing: $(measure) % of one core (PulseAudio)"
    mpris Pause
    sleep 2
    echo "paused:  $(measure) % of one core (PulseAudio)"
    stop
fi

start "$work/null" null "$work/demo.m3u"
echo "null:    $(measure) % of one core (playing, null device)"
stop
