#!/usr/bin/env bash
# Installs what is missing on Debian 12 and builds everything into build/.
#
#   WL_BUILD_TYPE  CMake build type (default Release)
#   WL_JOBS        parallel build jobs (default: number of processors)
set -euo pipefail
cd "$(dirname "$0")/.."

# Build toolchain, test and benchmark libraries, and the programs the tests
# and benchmarks compare against.
core_packages=(
  cmake ninja-build g++
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 lame mpg123 sox twolame ffmpeg clang libclang-rt-14-dev
  python3-mutagen id3v2 eyed3 kid3-cli
)
# Player (UI and audio output) packages; later features add theirs here.
player_packages=(
  libpulse-dev pulseaudio pkg-config qt6-base-dev qt6-wayland
  dbus libglib2.0-bin desktop-file-utils
  libcurl4-openssl-dev ca-certificates
)
# Internet radio tests: a streaming server and its source client.
radio_packages=(icecast2 ezstream)

packages=("${core_packages[@]}" "${player_packages[@]}" "${radio_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [[ $(id -u) -eq 0 ]]; then
    sudo=()
  elif command -v sudo >/dev/null; then
    sudo=(sudo)
  else
    echo "setup: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${WL_BUILD_TYPE:-Release}" >/dev/null
cmake --build build -j "${WL_JOBS:-$(nproc)}"
