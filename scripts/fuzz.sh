#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, seeds their corpora from the
# conformance streams (../shared/conformance) and the demo tune, and runs each
# target for SECONDS (default 60) on its corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Corpora grow in build-fuzz/corpus/TARGET; crashes land in build-fuzz/crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_decode_frame fuzz_frame_header fuzz_media_info)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DWL_FUZZ=ON -DWL_BUILD_TESTS=OFF -DWL_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target "${targets[@]}" >/dev/null

shared=${WL_SHARED_DIR:-../shared}
mkdir -p build-fuzz/crashes
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  cp -n fuzz/seeds/"$t"/* "$corpus"/ 2>/dev/null || true
  seeds=(demo/wavelantern-demo.mp3)
  [[ -d $shared/conformance ]] && seeds+=("$shared"/conformance/*.bit)
  for f in "${seeds[@]}"; do
    name=$(basename "$f")
    case $t in
      fuzz_decode_frame)
        # Config byte (full band, routing as coded), then the start of the stream.
        { printf '\x04'; head -c 6000 "$f"; } > "$corpus/seed-$name" ;;
      fuzz_frame_header) head -c 4096 "$f" > "$corpus/seed-$name" ;;
      fuzz_media_info) head -c 65536 "$f" > "$corpus/seed-$name" ;;
    esac
  done
  echo "== $t: $seconds s"
  build-fuzz/fuzz/"$t" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/crashes/"$t"- -rss_limit_mb=2048 -timeout=10 "$corpus" 2>&1 |
    grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==ERROR|SUMMARY)|cov:' | tail -4
done
