#!/bin/sh
# Writes pictures of the display, every panel and the screensaver into the
# given folder (default: build/screenshots), once at scale 1 and once at
# scale 2 (subfolders scale1 and scale2).
# Usage: scripts/screenshots.sh [build-dir] [out-dir]
set -e
build=${1:-build}
out=${2:-$build/screenshots}
ninja -C "$build" -j2 wl_app_tests
for scale in 1 2; do
    mkdir -p "$out/scale$scale"
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} QT_SCALE_FACTOR=$scale WAVELANTERN_AUDIO=null \
        WL_SCREENSHOT_DIR="$(cd "$out/scale$scale" && pwd)" \
        "$build/tests/wl_app_tests" --gtest_filter='AppFixture.DisplayScreenshots:AppFixture.TallPlaylistScreenshot'
done
ls "$out"/scale*
