#!/bin/sh
# CPU use of the shown main window on Xvfb: 20 s stopped (nothing loaded)
# and 20 s playing the demo file (null sound device), each after 3 s of
# settling.
# Prints the share of one core per state (utime + stime from /proc).
# Usage: bench/idle_cpu.sh [build-dir] [seconds]
set -e
build=${1:-build}
secs=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
exe="$build/app/wavelantern"
[ -x "$exe" ] || exe="$build/wavelantern"
[ -x "$exe" ] || { echo "wavelantern not built in $build" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb missing (apt-get install xvfb)" >&2; exit 1; }
demo="$root/demo/wavelantern-demo.mp3"

work=$(mktemp -d)
display=:$((90 + $$ % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
sleep 1

ticks=$(getconf CLK_TCK)
# utime + stime of process $1 in clock ticks
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# share of one core used by process $1 over $secs seconds, in per cent
measure() {
    a=$(cpu "$1")
    t0=$(date +%s.%N)
    sleep "$secs"
    b=$(cpu "$1")
    t1=$(date +%s.%N)
    awk -v a="$a" -v b="$b" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
        'BEGIN { printf "%.2f", (b - a) / hz / (t1 - t0) * 100 }'
}
# starts the program with its own app folder; $1: folder, rest: arguments
start() {
    home=$1
    shift
    mkdir -p "$home"
    DISPLAY=$display WAVELANTERN_HOME=$home WAVELANTERN_AUDIO=null QT_QPA_PLATFORM=xcb \
        "$exe" "$@" >"$home/out.txt" 2>&1 &
    app=$!
    sleep 3
}
stop() {
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    app=
}

start "$work/stopped"
stopped=$(measure "$app")
stop

# Four times the demo: longer than the measurement.
printf '%s\n%s\n%s\n%s\n' "$demo" "$demo" "$demo" "$demo" >"$work/demo.m3u"
start "$work/playing" "$work/demo.m3u"
playing=$(measure "$app")
stop

echo "stopped: $stopped % of one core"
echo "playing: $playing % of one core"
