#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# A private PipeWire server with its PulseAudio service, for tests and benchmarks: a null sink
# for playback, and a real-time 440 Hz sine (fed through a second null sink) as the default
# source. Its own session bus, no hardware; works as root.
#   scripts/pipewire-test-server.sh start DIR   # prints the PULSE_SERVER value
#   scripts/pipewire-test-server.sh stop DIR
# Exits 77 when PipeWire is not installed, so a test can be skipped rather than failed.
set -eu
cmd=${1:?start or stop}
dir=${2:?folder for the server}
mkdir -p "$dir"
chmod 700 "$dir"
dir=$(cd "$dir" && pwd)
export XDG_RUNTIME_DIR="$dir" PIPEWIRE_RUNTIME_DIR="$dir" PULSE_SERVER="unix:$dir/pulse/native"

# Gone, or a zombie that nobody reaps (the daemons outlive the script that started them).
gone() { ! kill -0 "$1" 2>/dev/null || [ "$(ps -o stat= -p "$1" 2>/dev/null | cut -c1)" = Z ]; }

stop() {
  local pids=() f
  # sox ignores SIGTERM while its reader is gone.
  [ -f "$dir/sox.pid" ] && kill -9 "$(cat "$dir/sox.pid")" 2>/dev/null
  for f in "$dir"/*.pid; do
    [ -f "$f" ] || continue
    pids+=("$(cat "$f")")
    rm -f "$f"
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  kill "${pids[@]}" 2>/dev/null || true
  for _ in $(seq 50); do
    local alive=0 pid
    for pid in "${pids[@]}"; do gone "$pid" || alive=1; done
    [ $alive -eq 0 ] && return 0
    sleep 0.1
  done
  kill -9 "${pids[@]}" 2>/dev/null || true
}

# Runs a daemon detached from this script's output, and notes its PID.
daemon() {
  local name=$1; shift
  "$@" </dev/null >>"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
}

case "$cmd" in
  start)
    for tool in pipewire pipewire-pulse wireplumber dbus-daemon pactl pacat sox; do
      command -v "$tool" >/dev/null || { echo "pipewire-test-server: $tool is not installed" >&2; exit 77; }
    done
    stop
    rm -rf "$dir/pulse" "$dir/conf" "$dir"/pipewire-0*
    mkdir -p "$dir/conf"
    cat >"$dir/conf/pw.conf" <<'CONF'
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    support.dbus = false
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = nullsink
               media.class = Audio/Sink audio.position = [ FL FR ] audio.rate = 44100
               node.description = "Null sink" } }
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = feed
               media.class = Audio/Sink audio.position = [ FL FR ] audio.rate = 44100
               node.description = "Test signal" } }
]
CONF
    dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$dir/bus" 4>"$dir/dbus.pid"
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$dir/bus")
    export DBUS_SESSION_BUS_ADDRESS
    daemon pipewire env PIPEWIRE_CONFIG_DIR="$dir/conf" pipewire -c pw.conf
    for _ in $(seq 100); do [ -S "$dir/pipewire-0" ] && break; sleep 0.05; done
    daemon wireplumber wireplumber
    daemon pipewire-pulse pipewire-pulse
    ready=""
    for _ in $(seq 200); do
      pactl info >/dev/null 2>&1 && { ready=1; break; }
      sleep 0.05
    done
    [ -n "$ready" ] || { echo "pipewire-test-server: no answer; see $dir/*.log" >&2; stop; exit 1; }
    # The test signal: a sine played into the feed sink in real time; its monitor is the source.
    # A second of it waits in the server: with less, a busy machine (tests running side by side)
    # let the player run dry now and then, and the sink filled the gap with silence, which the
    # tests then found in the recordings.
    rm -f "$dir/sine.fifo"
    mkfifo "$dir/sine.fifo"
    daemon sox sox -q -n -r 44100 -c 2 -b 16 -e signed -t raw "$dir/sine.fifo" synth 86400 sine 440 vol 0.5
    daemon pacat pacat --playback --device=feed --rate=44100 --channels=2 --format=s16le \
      --latency-msec=1000 --client-name=test-signal "$dir/sine.fifo"
    for _ in $(seq 100); do
      pactl list short sources 2>/dev/null | grep -q 'feed.monitor' && break
      sleep 0.05
    done
    pactl set-default-source feed.monitor
    pactl set-default-sink nullsink
    echo "$PULSE_SERVER"
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
