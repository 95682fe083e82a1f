#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Checks on a real X server (Xvfb) that switching always-on-top changes only the stacking:
# the window keeps its place and size and stays mapped. With openbox present, also checks
# that the window manager sees _NET_WM_STATE_ABOVE come and go.
# Usage: stayontop-x11.sh PROBE   (TAVR_X11_WM=none: without a window manager)
# Starts its own Xvfb on a display the server picks itself. Every step waits for the event it
# needs (the probe's ready line, a property change), never for a set time: on a busy machine
# openbox can take many seconds between claiming the screen and mapping the first window.
set -eu
probe=$1
for tool in Xvfb xprop xwininfo; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 0; }
done
WAIT=90  # seconds for anything to happen: CI machines can be slow and loaded
dir=$(mktemp -d)
xvfb=
wm=
cleanup() {
  exec 3>&- 4<&- 2>/dev/null || true
  for p in $wm $xvfb; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

mkfifo "$dir/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dir/displayfd" >"$dir/xvfb.log" 2>&1 &
xvfb=$!
read -r -t $WAIT display <"$dir/displayfd" || { echo "FAIL: Xvfb did not start"; cat "$dir/xvfb.log"; exit 1; }
export DISPLAY=":$display"
unset XAUTHORITY

# Waits until property $2 of window $1 (or -root) matches the pattern $3 (or no longer does,
# with $4 = absent). Polled: xprop -spy gives up on a property whose name the server has
# not seen yet.
wait_prop() {
  local deadline=$((SECONDS + WAIT)) value
  while :; do
    value=$(xprop $1 "$2" 2>/dev/null || true)
    if [[ $value =~ $3 ]]; then [ -z "${4:-}" ] && return 0; else [ -n "${4:-}" ] && return 0; fi
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

if [ "${TAVR_X11_WM:-openbox}" = openbox ] && command -v openbox >/dev/null; then
  openbox --sm-disable >"$dir/openbox.log" 2>&1 &
  wm=$!
  # Set once openbox redirects the root's map requests to itself: a window mapped from here
  # on waits for openbox, however long the rest of its start-up takes.
  wait_prop -root _NET_SUPPORTING_WM_CHECK "window id" || { echo "FAIL: openbox did not start"; cat "$dir/openbox.log"; exit 1; }
fi

mkfifo "$dir/in" "$dir/out"
QT_QPA_PLATFORM=xcb "$probe" <"$dir/in" >"$dir/out" 2>"$dir/err" &
exec 3>"$dir/in" 4<"$dir/out"
ids=()
wait_ready() {  # the probe's next ready line: its window is shown, or the command carried out
  local line
  IFS= read -r -t $WAIT -u 4 line && [[ $line == *ready ]] || {
    echo "FAIL: probe did not answer"; cat "$dir/err"; exit 1; }
  ids+=("${line%% *}")
}
wait_ready
win=${ids[0]}
place() { xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} /Map State/{m=$NF} END{print x","y" "w"x"h" "m}'; }
above() { xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE && echo above || echo normal; }
# openbox sets the frame's extents while it manages the window, before it maps it.
[ -z "$wm" ] || wait_prop "-id $win" _NET_FRAME_EXTENTS "=" || { echo "FAIL: openbox did not frame the window"; exit 1; }
before=$(place)
echo "start:     $before $(above)"
status=0
[[ $before == *IsViewable ]] || { echo "FAIL: window not shown"; status=1; }
for cmd in on off on off; do
  echo "$cmd" >&3
  wait_ready
  if [ -n "$wm" ]; then
    if [ "$cmd" = on ]; then
      wait_prop "-id $win" _NET_WM_STATE _NET_WM_STATE_ABOVE || true
    else
      wait_prop "-id $win" _NET_WM_STATE _NET_WM_STATE_ABOVE absent || true
    fi
  fi
  now=$(place); state=$(above)
  echo "after $cmd: $now $state"
  [ "$now" = "$before" ] || { echo "FAIL: window moved, resized or unmapped"; status=1; }
  if [ -n "$wm" ]; then
    want=$([ "$cmd" = on ] && echo above || echo normal)
    [ "$state" = "$want" ] || { echo "FAIL: _NET_WM_STATE is $state, expected $want"; status=1; }
  fi
  [ "${ids[0]}" = "${ids[-1]}" ] || { echo "FAIL: window re-created"; status=1; }
done
echo quit >&3
[ $status -eq 0 ] && echo "PASS${wm:+ (with openbox)}"
exit $status
