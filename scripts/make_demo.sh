#!/usr/bin/env bash
# Makes demo/wavelantern-demo.mp3: a short synthesized tune (plucked melody over
# a triangle bass and a soft pad, a little reverb), 44.1 kHz stereo, encoded at
# 128 kbit/s joint stereo. Needs sox and lame. The result is committed; setup
# does not run this.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rate=44100
beat=0.4
# Melody in semitones from A4 (440 Hz); "r" is a rest.
melody=(0 3 5 7 10 7 5 3  0 3 5 7 12 10 7 r
        -2 2 5 9 7 5 2 r  -4 0 3 7 5 3 0 r
        0 3 5 7 10 12 15 12)
# Bass, one note per two beats, in semitones from A2.
bass=(0 0 -4 -4 -2 -2 -5 -5  0 0 -4 -4 -2 -2 -5 -5  0 0 0 0)

i=0
for n in "${melody[@]}"; do
  f=$(printf '%s/m%03d.wav' "$work" "$i")
  if [[ $n == r ]]; then
    sox -n -r $rate -c 2 "$f" trim 0 $beat
  else
    # Left: plucked string, right: a softer triangle; short attack, long release.
    sox -n -r $rate -c 2 "$f" synth $beat pluck %$n triangle %$n fade q 0.005 $beat 0.25 \
      remix 1v0.8,2v0.3 1v0.35,2v0.7
  fi
  i=$((i + 1))
done
sox "$work"/m*.wav "$work/melody.wav"

i=0
for n in "${bass[@]}"; do
  f=$(printf '%s/b%03d.wav' "$work" "$i")
  sox -n -r $rate -c 2 "$f" synth 0.8 triangle %$((n - 24)) fade q 0.02 0.8 0.3 vol 0.6
  i=$((i + 1))
done
sox "$work"/b*.wav "$work/bass.wav"

len=$(soxi -D "$work/melody.wav")
sox -n -r $rate -c 2 "$work/pad.wav" synth "$len" sine %-12 sine %-5 tremolo 0.5 40 \
  fade q 2 "$len" 2 vol 0.15
sox -m "$work/melody.wav" "$work/bass.wav" "$work/pad.wav" "$work/mix.wav" \
  reverb 35 50 60 fade q 0 "$len" 1.2 norm -3
lame --quiet --cbr -b 128 -m j "$work/mix.wav" demo/wavelantern-demo.mp3
ls -l demo/wavelantern-demo.mp3
