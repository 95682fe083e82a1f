#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Takes a picture of the main window on a private X server and sound server.
#   scripts/screenshot.sh [TAVR [OUT.png]]   # defaults: build/tavr, docs/screenshot.png
# Needs xvfb, xdotool and imagemagick. The program runs from a copy in a scratch folder, so
# the settings and work files that it writes beside itself do not land in the build tree.
# Extra arguments for the program can be given in TAVR_ARGS.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$root/build/tavr}
out=${2:-$root/docs/screenshot.png}
[ -x "$exe" ] || { echo "screenshot: no program at $exe" >&2; exit 1; }
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (apt-get install xvfb xdotool imagemagick)" >&2; exit 1; }
done

scratch=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  "$root/scripts/pulse-test-server.sh" stop "$scratch/pulse" || true
  rm -rf "$scratch"
}
trap cleanup EXIT

export PULSE_SERVER
PULSE_SERVER=$("$root/scripts/pulse-test-server.sh" start "$scratch/pulse")
export XDG_RUNTIME_DIR="$scratch/pulse"

# Xvfb picks a free display and writes its number to the pipe.
mkfifo "$scratch/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/displayfd" >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 display <"$scratch/displayfd" || { echo "screenshot: Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"

mkdir -p "$scratch/app"
cp "$exe" "$scratch/app/tavr"
QT_QPA_PLATFORM=xcb "$scratch/app/tavr" ${TAVR_ARGS:-} >"$scratch/app.log" 2>&1 &
app_pid=$!

window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Tavrin$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$app_pid" 2>/dev/null || { echo "screenshot: the program ended; see below" >&2; cat "$scratch/app.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: no window titled Tavrin appeared" >&2; exit 1; }
sleep 1 # let the first paint finish

mkdir -p "$(dirname "$out")"
import -window "$window" "png:$out"
echo "$out: $(identify -format '%wx%h' "$out")"
