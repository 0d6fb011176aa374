# Sourced by the window benchmarks: a desktop of their own. Starts Xvfb (sets
# DISPLAY), a session bus (sets DBUS_SESSION_BUS_ADDRESS) and, when
# pulseaudio is installed, a PulseAudio server with a null sink (sets $pulse
# to its address, empty without one), all in $work (a fresh temporary
# folder, removed again at exit with everything started). The server runs as
# a desktop's does: with shared memory (memfd), so that the audio and most
# commands do not go through the socket.
for tool in Xvfb dbus-daemon; do
    command -v "$tool" >/dev/null || { echo "$tool missing (apt-get install xvfb dbus)" >&2; exit 1; }
done
work=$(mktemp -d)
pids=()
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# waits until file $1 is not empty (or a socket exists)
wait_for() {
    for _ in $(seq 50); do
        [ -s "$1" ] || [ -S "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# Xvfb picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for "$work/bus" || { echo "dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")

pulse=
if command -v pulseaudio >/dev/null; then
    pa="$work/pulse"
    mkdir -p "$pa/runtime"
    chmod 700 "$pa/runtime"
    HOME=$pa XDG_RUNTIME_DIR=$pa XDG_CONFIG_HOME=$pa PULSE_RUNTIME_PATH=$pa/runtime PULSE_STATE_PATH=$pa/runtime \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no --system=false \
        --realtime=no --high-priority=no --log-target=stderr --load=module-null-sink \
        --load="module-native-protocol-unix socket=$pa/native auth-anonymous=1" >"$work/pulse.log" 2>&1 &
    pids+=($!)
    wait_for "$pa/native" && pulse="unix:$pa/native"
    [ -n "$pulse" ] || echo "pulseaudio did not start" >&2
fi
