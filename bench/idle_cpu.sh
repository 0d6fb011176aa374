#!/bin/sh
# CPU use of the shown main window on Xvfb: 20 s stopped (nothing loaded)
# and 20 s playing the demo file (null sound device), each after 5 s of
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
# Xvfb picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
for _ in 1 2 3 4 5 6 7 8 9 10; do
    [ -s "$work/display" ] && break
    sleep 0.5
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
display=:$(cat "$work/display")

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
    sleep 5
    kill -0 "$app" 2>/dev/null || { echo "wavelantern did not start:" >&2; cat "$home/out.txt" >&2; exit 1; }
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
