#!/usr/bin/env bash
# Decoding speed of wl-decode against mpg123 on a 10-minute 128 kbit/s joint
# stereo file (a synthesized melody over a noise bed, made with sox and lame).
#
#   scripts/bench_realtime.sh [WL_DECODE] [MINUTES]
#
# WL_DECODE defaults to build/wl-decode. Prints CPU seconds (user+system) and
# the realtime factor (audio seconds per CPU second) of each decoder.
set -euo pipefail
cd "$(dirname "$0")/.."

decoder=${1:-build/wl-decode}
minutes=${2:-10}
for tool in sox lame mpg123; do
  command -v "$tool" >/dev/null || { echo "bench_realtime: $tool is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
done
[[ -x $decoder ]] || { echo "bench_realtime: $decoder not found; build first (scripts/setup.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$((minutes * 60))

echo "making a ${minutes}-minute test file..."
# A 16-note phrase (plucked left, triangle right) repeated over the whole length,
# plus slowly swept pink noise so that no two frames are alike.
notes=(0 3 5 7 10 7 5 3 0 -2 2 5 9 7 5 2)
i=0
for n in "${notes[@]}"; do
  sox -n -r 44100 -c 2 "$(printf '%s/n%02d.wav' "$work" "$i")" synth 0.3 pluck %$n triangle %$n \
    fade q 0.005 0.3 0.2
  i=$((i + 1))
done
sox "$work"/n*.wav "$work/phrase.wav"
repeats=$(( (seconds * 10 + 47) / 48 ))  # the phrase is 4.8 s
sox "$work/phrase.wav" "$work/melody.wav" repeat "$repeats" trim 0 "$seconds"
sox -n -r 44100 -c 2 "$work/noise.wav" synth "$seconds" pinknoise pinknoise \
  tremolo 0.13 60 vol 0.25
sox -m "$work/melody.wav" "$work/noise.wav" "$work/mix.wav" norm -3
lame --quiet --cbr -b 128 -m j "$work/mix.wav" "$work/test.mp3"
rm -f "$work"/*.wav
ls -l "$work/test.mp3" | awk '{print "test file: " $5 " bytes"}'

cpu_seconds() {  # runs the command, prints its user+system CPU seconds
  local TIMEFORMAT='%U %S'
  local t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  awk '{printf "%.3f", $1 + $2}' <<<"$t"
}

echo
echo "wl-decode (its own report):"
"$decoder" "$work/test.mp3" | sed 's/^/  /'

wl=$(cpu_seconds "$decoder" "$work/test.mp3")
mp=$(cpu_seconds mpg123 -q -t "$work/test.mp3")
echo
awk -v s="$seconds" -v wl="$wl" -v mp="$mp" 'BEGIN {
  printf "%-32s %8s %10s\n", "decoder (whole process)", "CPU s", "realtime";
  printf "%-32s %8.3f %9.1fx\n", "wl-decode FILE", wl, (wl > 0 ? s / wl : 0);
  printf "%-32s %8.3f %9.1fx\n", "mpg123 -t FILE", mp, (mp > 0 ? s / mp : 0);
}'
