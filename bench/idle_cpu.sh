#!/bin/bash
# CPU use of the shown main window on Xvfb, as on a desktop: a private
# session bus (the media controls are on) and a private PulseAudio server
# with a null sink. Measured states, each after 5 s of settling:
#   stopped  nothing loaded
#   playing  the demo file through PulseAudio
#   paused   the same, paused through the media controls
#   null     playing through the null device (no sound server)
# Prints the share of one core per state: the median of 5 s windows, with the
# lowest and highest window, from the threads' run time in /proc.
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

# The server runs as a desktop's does: with shared memory (memfd), so that the
# audio and most commands do not go through the socket.
pulse=
if command -v pulseaudio >/dev/null; then
    pa="$work/pulse"
    mkdir -p "$pa/runtime"
    chmod 700 "$pa/runtime"
    HOME=$pa XDG_RUNTIME_DIR=$pa XDG_CONFIG_HOME=$pa PULSE_RUNTIME_PATH=$pa/runtime PULSE_STATE_PATH=$pa/runtime \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no --system=false \
        --realtime=no --high-priority=no --log-target=stderr --load=module-null-sink \
        --load="module-native-protocol-unix socket=$pa/native auth-anonymous=1" >"$work/pulse.log" 2>&1 &
    pids+=($!)
    wait_for "$pa/native" && pulse="unix:$pa/native"
    [ -n "$pulse" ] || echo "pulseaudio did not start; measuring without it" >&2
fi

# CPU time of all threads of process $1 so far, in nanoseconds (schedstat:
# exact, where utime + stime count 10 ms ticks)
cpu() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f", s }'; }
# share of one core used by the program, in per cent: the median of 5 s
# windows over $secs seconds, with the smallest and largest window (on a
# shared or virtual machine a single window can catch a burst of noise)
measure() {
    local n=$(( secs / 5 )) a b t0 t1 i
    [ "$n" -ge 1 ] || n=1
    for i in $(seq "$n"); do
        a=$(cpu "$app")
        t0=$(date +%s.%N)
        sleep 5
        b=$(cpu "$app")
        t1=$(date +%s.%N)
        awk -v a="$a" -v b="$b" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 / (t1 - t0) * 100 }'
    done | sort -n | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.2f (windows %.2f-%.2f)", m, v[1], v[NR] }'
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
