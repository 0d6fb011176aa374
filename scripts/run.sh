#!/usr/bin/env bash
# Starts the desktop player on the bundled demo tune (or on the files given).
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY is set) it says so
# and plays them with the console player wl-play instead. Without a reachable
# PulseAudio (or PipeWire) sound server the player uses the null device.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

files=("$@")
((${#files[@]})) || files=("$root/demo/wavelantern-demo.mp3")

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); playing with the console player wl-play instead" >&2
  exec "$root/build/wl-play" "${files[@]}"
fi

sound_server() {
  if command -v pactl >/dev/null; then
    pactl info >/dev/null 2>&1
  else
    [[ -n "${PULSE_SERVER:-}" || -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ]]
  fi
}
if [[ -z "${WAVELANTERN_AUDIO:-}" || "${WAVELANTERN_AUDIO}" == pulse ]] && ! sound_server; then
  echo "run: no PulseAudio sound server; playing on the null device (no sound)" >&2
  export WAVELANTERN_AUDIO=null
fi

# X11 (also through XWayland) keeps the window's stored place and its
# stay-on-top style; a pure Wayland session gets the Wayland platform.
if [[ -z "${QT_QPA_PLATFORM:-}" ]]; then
  if [[ -n "${DISPLAY:-}" ]]; then export QT_QPA_PLATFORM=xcb; else export QT_QPA_PLATFORM=wayland; fi
fi

exec "$root/build/app/wavelantern" "${files[@]}"
