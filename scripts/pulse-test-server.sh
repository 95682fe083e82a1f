#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# A private PulseAudio server for tests and benchmarks: a null sink, and a real-time 440 Hz
# sine as the default source. No D-Bus, no hardware; works as root. Exits 77 when PulseAudio
# is not installed, so a test can be skipped rather than failed.
#   scripts/pulse-test-server.sh start DIR   # prints the PULSE_SERVER value
#   scripts/pulse-test-server.sh stop DIR
set -eu
cmd=${1:?start or stop}
dir=${2:?folder for the server}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export XDG_RUNTIME_DIR="$dir"
export PULSE_SERVER="unix:$dir/native"
pidfile="$dir/pulse/pid"

stop() {
  if [ -f "$pidfile" ]; then
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      [ "$(ps -o stat= -p "$pid" 2>/dev/null | cut -c1)" = Z ] && break  # nobody reaps it here
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$pidfile"
  fi
}

case "$cmd" in
  start)
    for tool in pulseaudio pactl; do
      command -v "$tool" >/dev/null || { echo "pulse-test-server: $tool is not installed" >&2; exit 77; }
    done
    stop
    rm -f "$dir/native"
    cat > "$dir/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=nullsink rate=44100 channels=2
load-module module-null-source source_name=clock rate=44100 channels=2 max_latency_msec=20
load-module module-virtual-source source_name=vmic master=clock uplink_sink=vmic_feed
load-module module-sine sink=vmic_feed frequency=440
load-module module-loopback source=clock sink=nullsink latency_msec=20
set-default-sink nullsink
set-default-source vmic
PA
    pulseaudio -n -F "$dir/server.pa" --daemonize=yes --fail --exit-idle-time=-1 \
      --disallow-exit --log-target="file:$dir/pulse.log" 2>>"$dir/pulse.log"
    for _ in $(seq 100); do
      pactl info >/dev/null 2>&1 && { echo "$PULSE_SERVER"; exit 0; }
      sleep 0.05
    done
    echo "pulse-test-server: the server did not answer; see $dir/pulse.log" >&2
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
