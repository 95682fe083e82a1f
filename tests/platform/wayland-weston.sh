#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Checks where the program's window comes up in a Wayland session, under weston's headless
# backend: on X11 where Xwayland answers, and on Wayland itself where no X server runs.
# Usage: wayland-weston.sh TAVR
set -eu
tavr=$1
for tool in weston xdotool; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
WAIT=90  # seconds for anything to appear: CI machines can be slow and loaded
dir=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -m 700 "$dir/run"
mkdir -p "$dir/home"
cp "$tavr" "$dir/home/tavr"
status=0

# Polls until the command succeeds; a slow machine only makes the run longer.
until_true() {
  local deadline=$((SECONDS + WAIT))
  until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.1; done
}

start_weston() {  # $1: socket name; the rest: weston's own options
  local name=$1
  shift
  XDG_RUNTIME_DIR="$dir/run" weston --backend=headless-backend.so --socket="$name" --idle-time=0 \
    --log="$dir/$name.log" "$@" </dev/null >/dev/null 2>&1 &
  pids+=($!)
  until_true test -S "$dir/run/$name" || { echo "FAIL: weston did not start"; cat "$dir/$name.log"; exit 1; }
}

start_tavr() {  # $1: socket name, $2: X display or empty; logs to $dir/$1.tavr.log
  (cd "$dir/home" && exec env -u QT_QPA_PLATFORM -u DISPLAY ${2:+DISPLAY=$2} XDG_SESSION_TYPE=wayland \
     XDG_RUNTIME_DIR="$dir/run" WAYLAND_DISPLAY="$1" WAYLAND_DEBUG=client TAVRIN_AUDIO=fake \
     HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/config" XDG_STATE_HOME="$dir/home/state" \
     XDG_DATA_HOME="$dir/home/data" ./tavr >"$dir/$1.tavr.log" 2>&1) &
  pids+=($!)
}

wayland_window() {  # $1: log; true once the window has its title and a picture on Wayland
  grep -q 'xdg_toplevel@[0-9]*\.set_title("Tavrin")' "$1" && grep -q 'wl_surface@[0-9]*\.attach' "$1"
}

# With Xwayland: weston starts it at the first X client; the program takes X11.
start_weston with-x --xwayland
until_true grep -q "xserver listening on display" "$dir/with-x.log" || { echo "FAIL: no Xwayland"; exit 1; }
display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/with-x.log" | head -1)
start_tavr with-x "$display"
if timeout $WAIT env DISPLAY="$display" xdotool search --sync --onlyvisible --name '^Tavrin$' >/dev/null; then
  echo "ok:   with Xwayland the window comes up on X11 ($display)"
else
  echo "FAIL: with Xwayland no X11 window"; tail -5 "$dir/with-x.tavr.log"; status=1
fi
wayland_window "$dir/with-x.tavr.log" && { echo "FAIL: with Xwayland a Wayland window too"; status=1; }

# Without: no DISPLAY at all; the program takes Wayland, where Qt's plugin must be installed.
start_weston no-x
start_tavr no-x ""
if until_true wayland_window "$dir/no-x.tavr.log"; then
  echo "ok:   without Xwayland the window comes up on Wayland"
else
  echo "FAIL: without Xwayland no Wayland window"; grep -v '^\[' "$dir/no-x.tavr.log" | tail -5; status=1
fi

[ $status -eq 0 ] && echo PASS
exit $status
