#!/usr/bin/env bash
# THD+N of the output stage on a loud sine: a 1 kHz sine at -0.5 dBFS (sox,
# 10 s, 44.1 kHz stereo, no dither), encoded by lame at 320 kbit/s, played by
# wl-play into a WAV file
#   - at unity (no equalizer),
#   - through +6 dB of equalizer on all ten bands (the boost goes to the
#     output stage, whose limiter holds the peaks below full scale),
#   - through -6 dB on all ten bands (a plain attenuation in the decoder's
#     tables; nothing to limit),
# and measured by wl_thdn (the fitted sine and DC removed, the first and last
# 100 ms left out).
#
#   bench/limiter_thdn.sh [BUILD_DIR]        # default build
#
# WL_BENCH_DIR=DIR keeps the files there.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
for tool in sox lame; do
  command -v "$tool" >/dev/null || { echo "limiter_thdn: $tool is not installed" >&2; exit 1; }
done
for exe in "$build/wl-play" "$build/bench/wl_thdn"; do
  [[ -x $exe ]] || { echo "limiter_thdn: $exe not found; build first" >&2; exit 1; }
done

if [[ -n ${WL_BENCH_DIR:-} ]]; then
  work=$WL_BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

sox -D -n -r 44100 -c 2 -b 16 "$work/sine.wav" synth 10 sine 1000 gain -0.5
lame --quiet -b 320 "$work/sine.wav" "$work/sine.mp3"

play() {  # NAME EQ-GAIN|-
  local out=$work/$1.wav eq=()
  rm -f "$out"
  [[ $2 == - ]] || eq=(--eq "$2,$2,$2,$2,$2,$2,$2,$2,$2,$2")
  WAVELANTERN_NULL_SPEED=50 "$build/wl-play" --output "wav:$out" "${eq[@]}" "$work/sine.mp3" >/dev/null
  printf '%-34s' "$3"
  "$build/bench/wl_thdn" "$out" | sed -n 1p | sed 's/^channel 0: //'
}

echo "1 kHz sine at -0.5 dBFS, lame -b 320 (left channel; the right is the same)"
play unity - "unity (no equalizer):"
play boost 30 "+6 dB equalizer (limiter):"
play cut -30 "-6 dB equalizer (no limiting):"
