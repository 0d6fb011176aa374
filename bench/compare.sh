#!/usr/bin/env bash
# Decoding speed of wl-decode against mpg123 and ffmpeg, side by side, on four
# 10-minute files made from one synthesized signal:
#   L3 128k joint stereo 44.1 kHz, L3 320k stereo 44.1 kHz,
#   L3 MPEG-2 64k 22.05 kHz joint stereo, L2 192k stereo 44.1 kHz.
#
#   bench/compare.sh [WL_DECODE] [RUNS]
#
# WL_DECODE defaults to build-rel/wl-decode, else build/wl-decode; RUNS (default
# 5) is how often each decoder runs on each file (the three take turns); the
# table shows the median CPU time (user + system) of each and the speed of
# wl-decode relative to the others (> 1 means wl-decode is faster). Set
# WL_BENCH_DIR to a folder to keep the files there and reuse them on the next
# run; WL_BENCH_MINUTES changes the length.
set -euo pipefail
cd "$(dirname "$0")/.."

decoder=${1:-}
if [[ -z $decoder ]]; then
  decoder=build-rel/wl-decode
  [[ -x $decoder ]] || decoder=build/wl-decode
fi
runs=${2:-5}
minutes=${WL_BENCH_MINUTES:-10}
for tool in sox lame twolame mpg123 ffmpeg; do
  command -v "$tool" >/dev/null || { echo "compare: $tool is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
done
[[ -x $decoder ]] || { echo "compare: $decoder not found; build wl-decode first" >&2; exit 1; }

if [[ -n ${WL_BENCH_DIR:-} ]]; then
  work=$WL_BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
seconds=$((minutes * 60))

make_signal() {  # a 16-note phrase (plucked left, triangle right) over swept pink noise
  local rate=$1 out=$2 notes=(0 3 5 7 10 7 5 3 0 -2 2 5 9 7 5 2) i=0
  for n in "${notes[@]}"; do
    sox -n -r "$rate" -c 2 "$(printf '%s/n%02d.wav' "$work" "$i")" synth 0.3 pluck %$n triangle %$n \
      fade q 0.005 0.3 0.2
    i=$((i + 1))
  done
  sox "$work"/n??.wav "$work/phrase.wav"
  local repeats=$(( (seconds * 10 + 47) / 48 ))  # the phrase is 4.8 s
  sox "$work/phrase.wav" "$work/melody.wav" repeat "$repeats" trim 0 "$seconds"
  sox -n -r "$rate" -c 2 "$work/noise.wav" synth "$seconds" pinknoise pinknoise \
    tremolo 0.13 60 vol 0.25
  sox -m "$work/melody.wav" "$work/noise.wav" "$out" norm -3
  rm -f "$work"/n??.wav "$work/phrase.wav" "$work/melody.wav" "$work/noise.wav"
}

files=(l3_128k_joint.mp3 l3_320k_stereo.mp3 l3_mpeg2_64k_22k.mp3 l2_192k_stereo.mp2)
if [[ ! -s $work/${files[3]} ]]; then
  echo "making the ${minutes}-minute test files in $work..." >&2
  make_signal 44100 "$work/mix44.wav"
  make_signal 22050 "$work/mix22.wav"
  lame --quiet --cbr -b 128 -m j "$work/mix44.wav" "$work/${files[0]}"
  lame --quiet --cbr -b 320 -m s "$work/mix44.wav" "$work/${files[1]}"
  lame --quiet --cbr -b 64 -m j "$work/mix22.wav" "$work/${files[2]}"
  twolame --quiet -b 192 -m s "$work/mix44.wav" "$work/${files[3]}"
  rm -f "$work/mix44.wav" "$work/mix22.wav"
fi

cpu_time() {  # user + system CPU seconds of one run of the command
  local t TIMEFORMAT='%U %S'
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  awk '{printf "%.3f", $1 + $2}' <<<"$t"
}

median() {  # of the numbers given
  printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {
    printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "CPU seconds (user + system), median of $runs interleaved runs; ${minutes}-minute files"
printf '%-22s %10s %10s %10s %12s %12s\n' file wl-decode mpg123 ffmpeg "vs mpg123" "vs ffmpeg"
for f in "${files[@]}"; do
  path=$work/$f
  wl_t=() mp_t=() ff_t=()
  # The three decoders take turns, so that a change in the machine's load
  # falls on all of them alike.
  for ((r = 0; r < runs; r++)); do
    wl_t+=("$(cpu_time "$decoder" "$path")")
    mp_t+=("$(cpu_time mpg123 -q -t "$path")")
    ff_t+=("$(cpu_time ffmpeg -hide_banner -loglevel error -i "$path" -f null -)")
  done
  wl=$(median "${wl_t[@]}")
  mp=$(median "${mp_t[@]}")
  ff=$(median "${ff_t[@]}")
  awk -v f="$f" -v wl="$wl" -v mp="$mp" -v ff="$ff" 'BEGIN {
    printf "%-22s %10.3f %10.3f %10.3f %11.2fx %11.2fx\n", f, wl, mp, ff,
      (wl > 0 ? mp / wl : 0), (wl > 0 ? ff / wl : 0) }'
done
