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

. "$root/bench/private_desktop.sh"
[ -n "$pulse" ] || { echo "a PulseAudio server is needed (apt-get install pulseaudio)" >&2; exit 1; }
export PULSE_SERVER=$pulse WAVELANTERN_AUDIO=pulse WAVELANTERN_HOME="$work/home"
mkdir -p "$WAVELANTERN_HOME"
for n in 1 2 3 4; do cp "$root/demo/wavelantern-demo.mp3" "$work/song$n.mp3"; done
"$exe" "$rounds" "$work"/song{1,2,3,4}.mp3
