#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, seeds their corpora from the kept
# corpora (fuzz/corpus/TARGET), the kept reproducers, the conformance streams
# (../shared/conformance) and the demo tune, and runs each target for SECONDS
# (default 60) on its corpus with its dictionary.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Corpora grow in BUILD/corpus/TARGET; crashes land in BUILD/crashes
# (keep each as a reproducer in fuzz/regressions/TARGET); logs in BUILD/logs.
# Exits non-zero when any target found a crash, a leak or a timeout.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_decode_frame fuzz_player_walk fuzz_frame_header fuzz_media_info
  fuzz_id3_text fuzz_m3u fuzz_settings fuzz_icy fuzz_station_list fuzz_cue fuzz_picture)

# WL_FUZZ_BUILD names the build tree (default build-fuzz); CI reuses its
# sanitizer tree, which also holds the tests.
build=${WL_FUZZ_BUILD:-build-fuzz}
if [[ ! -f $build/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DWL_FUZZ=ON -DWL_BUILD_TESTS=OFF -DWL_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target "${targets[@]}" >/dev/null

# Undefined behaviour counts as a finding, like a crash.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
shared=${WL_SHARED_DIR:-../shared}
mkdir -p "$build"/crashes "$build"/logs
seed() {
  local t=$1 corpus=$build/corpus/$1
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  cp -n fuzz/regressions/"$t"/* "$corpus"/ 2>/dev/null || true
  case $t in fuzz_id3_text | fuzz_m3u | fuzz_settings | fuzz_icy | fuzz_station_list | fuzz_cue | fuzz_picture) return ;; esac
  local seeds=(demo/wavelantern-demo.mp3)
  [[ -d $shared/conformance ]] && seeds+=("$shared"/conformance/*.bit)
  for f in "${seeds[@]}"; do
    local name
    name=$(basename "$f")
    case $t in
      fuzz_decode_frame)
        # Config byte (full band, routing as coded), then the first frames.
        { printf '\x04'; head -c 2500 "$f"; } > "$corpus/seed-$name" ;;
      fuzz_frame_header) head -c 4096 "$f" > "$corpus/seed-$name" ;;
      fuzz_media_info) head -c 65536 "$f" > "$corpus/seed-$name" ;;
      fuzz_player_walk) head -c 4096 "$f" > "$corpus/seed-$name" ;;
    esac
  done
}
dict() {
  case $1 in
    fuzz_m3u) echo fuzz/m3u.dict ;;
    fuzz_settings) echo fuzz/settings.dict ;;
    fuzz_icy) echo fuzz/icy.dict ;;
    fuzz_station_list) echo fuzz/station_list.dict ;;
    fuzz_cue) echo fuzz/cue.dict ;;
    *) echo fuzz/mpeg.dict ;;
  esac
}
run() {
  local t=$1
  $build/fuzz/"$t" -max_total_time="$seconds" -print_final_stats=1 -dict="$(dict "$t")" \
    -artifact_prefix=$build/crashes/"$t"- -rss_limit_mb=2048 -timeout=30 \
    $build/corpus/"$t" > $build/logs/"$t".log 2>&1
}

# WL_FUZZ_PARALLEL targets at a time (default 2, one per core); every target
# runs to its time limit.
parallel=${WL_FUZZ_PARALLEL:-2}
status=0
for ((i = 0; i < ${#targets[@]}; i += parallel)); do
  pids=()
  for t in "${targets[@]:i:parallel}"; do
    seed "$t"
    run "$t" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
done
for t in "${targets[@]}"; do
  echo "== $t ($seconds s)"
  grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)' \
    $build/logs/"$t".log | tail -4 || true
  grep -Eo 'cov: [0-9]+ ft: [0-9]+' $build/logs/"$t".log | tail -1 || true
done
[[ $status -eq 0 ]] || echo "fuzz: a target failed; reproducers are in $build/crashes" >&2
exit $status
