#!/usr/bin/env bash
# The sanitizer and fuzzing part of CI, after the plain build and tests:
#   1. clang with AddressSanitizer and UndefinedBehaviorSanitizer (and the
#      fuzzers' coverage instrumentation): the whole test suite, then every
#      fuzz target for FUZZ_SECONDS (default 60) on its kept corpus, four at
#      a time (three rounds: about 3 minutes at the default);
#   2. gcc with ThreadSanitizer: the threading, output, player and radio source
#      tests;
#   3. clang with ThreadSanitizer: the playback layer's workers (list loader,
#      tag scan, entry resolver, art and tag caches) and what they feed. Not
#      the controller's tests: Qt's queued calls hand data over under Qt's
#      own, uninstrumented locks, which the sanitizer reads as races. (clang:
#      gcc 12's sanitizer, a shared runtime, reports accesses made under the
#      loader's and the scan's locks as races here; clang's, linked into the
#      test, does not. It cannot fork a threaded test, so the one test that
#      runs another player stays out.)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${WL_JOBS:-$(nproc)}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DWL_FUZZ=ON -DWL_BUILD_TESTS=ON -DWL_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzzing"
# Four at a time: a smoke run of every target that keeps CI short.
WL_FUZZ_PARALLEL=4 WL_FUZZ_BUILD=build-asan ./scripts/fuzz.sh "${FUZZ_SECONDS:-60}"

echo "== ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWL_SANITIZE=thread \
  -DWL_BUILD_BENCH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target wl_engine_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir build-tsan \
  --output-on-failure -j "$jobs" \
  -R '^(Thread|Mutex|Event|SoundOut|SoundDevice|PulseIntegration|Player|MessageQueue|Gapless|ReplayGain|HttpSource)'

echo "== ThreadSanitizer, the playback layer's workers"
CC=clang CXX=clang++ cmake -S . -B build-tsan-playback -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWL_SANITIZE=thread \
  -DWL_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan-playback -j "$jobs" --target wl_playback_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir build-tsan-playback \
  --output-on-failure -j "$jobs" \
  -R '^(ListFiles|EntryResolver|ListLoader|TagScan|TagCache|ArtCache|PlaylistTidy|PlaylistSearch|CueSheetTest|StationList|PlaylistStreams)\.' \
  -E 'OtherPlayers'
