#!/bin/sh
# Writes pictures of the display, the equalizer and about panels and the
# screensaver into the given folder (default: build/screenshots).
# Usage: scripts/screenshots.sh [build-dir] [out-dir]
set -e
build=${1:-build}
out=${2:-$build/screenshots}
mkdir -p "$out"
ninja -C "$build" -j2 wl_app_tests
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} WAVELANTERN_AUDIO=null WL_SCREENSHOT_DIR="$(cd "$out" && pwd)" \
    "$build/tests/wl_app_tests" --gtest_filter='AppFixture.DisplayScreenshots'
ls "$out"
