#!/bin/bash
# CPU use of the shown main window on Xvfb, as on a desktop: a private
# session bus (the media controls are on) and a private PulseAudio server
# with a null sink. Measured states, each after 5 s of settling:
#   stopped  nothing loaded
#   playing  the demo file through PulseAudio
#   paused   the same, paused through the media controls
#   null     playing through the null device (no sound server)
#   station  playing a local radio station (icecast2 + ezstream) through
#            PulseAudio, when both are installed
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
command -v dbus-send >/dev/null || { echo "dbus-send missing (apt-get install dbus)" >&2; exit 1; }
demo="$root/demo/wavelantern-demo.mp3"

. "$root/bench/private_desktop.sh"
[ -n "$pulse" ] || echo "measuring without PulseAudio" >&2

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

station="$build/bench/wl_radio_station"
if [ -n "$pulse" ] && [ -x "$station" ]; then
    coproc radio { "$station"; }
    read -r url <&"${radio[0]}" || url=
    if [ -n "$url" ]; then
        start "$work/station" pulse "$url"
        echo "station: $(measure) % of one core (PulseAudio)"
        stop
    else
        echo "station: not measured (the local station did not start)" >&2
    fi
    kill "$radio_PID" 2>/dev/null || true
    wait "$radio_PID" 2>/dev/null || true
fi
