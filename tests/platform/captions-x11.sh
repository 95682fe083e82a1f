#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Checks on a real X server (Xvfb) that every window of the program carries exactly its own
# caption, with nothing appended: the main window, the no-sound-card warning, the unsaved
# recording question, the save dialog, the About box and the help window.
# Usage: captions-x11.sh TAVR HELPFILE
# Starts its own Xvfb on a display the server picks itself: `xvfb-run -a` can race another
# test run for the same display number.
set -eu
tavr=$1
help=$2
for tool in Xvfb xprop xdotool; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
dir=$(mktemp -d)
[ -n "${KEEP:-}" ] && echo "kept: $dir"
pid=
xvfb=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  [ -n "${KEEP:-}" ] || rm -rf "$dir"
}
trap cleanup EXIT
status=0

mkfifo "$dir/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dir/displayfd" >"$dir/xvfb.log" 2>&1 &
xvfb=$!
read -r -t 60 display <"$dir/displayfd" || { echo "FAIL: Xvfb did not start"; cat "$dir/xvfb.log"; exit 1; }
export DISPLAY=":$display"
unset XAUTHORITY

# A private copy and private per-user folders: nothing lands in the build tree or $HOME.
mkdir -p "$dir/app" "$dir/home"
cp "$tavr" "$dir/app/tavr"
cp "$help" "$dir/app/tavr.hlp"
export HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/config" XDG_DATA_HOME="$dir/home/data" \
       XDG_STATE_HOME="$dir/home/state" XDG_RUNTIME_DIR="$dir/home/run" QT_QPA_PLATFORM=xcb
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

titles() {  # the _NET_WM_NAME of every visible window of the program, one a line
  for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    xprop -id "$w" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'
  done
}
shown_titled() {  # $1: the exact caption; prints the id of a visible window that has it
  local w
  for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    if xprop -id "$w" _NET_WM_NAME 2>/dev/null | grep -qxF "_NET_WM_NAME(UTF8_STRING) = \"$1\""; then
      echo "$w"; return 0
    fi
  done
  return 1
}
# Polled until the deadline, so a slow or loaded machine only makes the run longer.
WAIT=90
window_titled() {  # $1: the exact caption; prints the window's id once it is shown
  local deadline=$((SECONDS + WAIT))
  while [ $SECONDS -lt $deadline ] && kill -0 "$pid" 2>/dev/null; do
    shown_titled "$1" && return 0
    sleep 0.1
  done
  return 1
}
window_gone() {  # $1: the exact caption; true once no visible window has it
  local deadline=$((SECONDS + WAIT))
  while [ $SECONDS -lt $deadline ]; do
    shown_titled "$1" >/dev/null || return 0
    sleep 0.1
  done
  return 1
}
expect() {  # $1: caption; then the keys that dismiss it (none: leave it open)
  local caption=$1 w
  shift
  if w=$(window_titled "$caption"); then
    echo "ok:   \"$caption\""
    if [ $# -gt 0 ]; then
      xdotool windowfocus --sync "$w" 2>/dev/null || true
      xdotool key --clearmodifiers "$@"
      # Keys meant for the main window would reach this one while it is still up.
      window_gone "$caption" || { echo "FAIL: \"$caption\" stayed open after $*"; status=1; }
    fi
  else
    echo "FAIL: no window captioned \"$caption\"; shown: $(titles | tr '\n' '|')"
    status=1
  fi
}
keys_to_main() {
  local w
  w=$(window_titled Tavrin) || { echo "FAIL: main window gone"; tail -20 "$dir/app.log"; exit 1; }
  xdotool windowfocus --sync "$w" 2>/dev/null || true
  xdotool key --clearmodifiers "$@"
}

# No sound server at all: the warning comes first.
PULSE_SERVER=unix:$dir/no-such-server "$dir/app/tavr" >"$dir/nosound.log" 2>&1 &
pid=$!
expect "警告" Return
expect "Tavrin"
kill "$pid"; wait "$pid" 2>/dev/null || true

# The rest on the fake device, which records without a sound server.
TAVRIN_AUDIO=fake "$dir/app/tavr" >"$dir/app.log" 2>&1 &
pid=$!
expect "Tavrin"
keys_to_main alt+h a
expect "バージョン情報" Return
keys_to_main space
keys_to_main ctrl+n
expect "確認" Escape
keys_to_main ctrl+s
expect "ファイルの保存" Escape
keys_to_main alt+h c
expect "Tavrin ヘルプ"

if titles | grep -q -- "— Tavrin"; then
  echo "FAIL: a caption carries the program's name: $(titles | tr '\n' '|')"; status=1
fi
[ $status -eq 0 ] && echo PASS || tail -20 "$dir"/*.log
exit $status
