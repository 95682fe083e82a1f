#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Checks on a real X server (Xvfb) that switching always-on-top changes only the stacking:
# the window keeps its place and size and stays mapped. With openbox present, also checks
# that the window manager sees _NET_WM_STATE_ABOVE come and go.
# Usage: stayontop-x11.sh PROBE   (run under xvfb-run -a; TAVR_X11_WM=none: without a WM)
set -eu
probe=$1
command -v xprop >/dev/null && command -v xwininfo >/dev/null || { echo "SKIP: x11-utils missing"; exit 0; }
wm=""
if [ "${TAVR_X11_WM:-openbox}" = openbox ] && command -v openbox >/dev/null; then
  openbox --sm-disable >/dev/null 2>&1 & wm=$!
  for _ in $(seq 300); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
fi
dir=$(mktemp -d)
cleanup() { exec 3>&- || true; [ -n "$wm" ] && kill "$wm" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
mkfifo "$dir/in"
QT_QPA_PLATFORM=xcb "$probe" <"$dir/in" >"$dir/out" 2>"$dir/err" &
exec 3>"$dir/in"
wait_ready() {  # $1: how many "ready" lines to wait for
  for _ in $(seq 100); do [ "$(grep -c ready "$dir/out" || true)" -ge "$1" ] && return 0; sleep 0.1; done
  echo "FAIL: probe did not answer"; cat "$dir/err"; exit 1
}
wait_ready 1
win=$(head -1 "$dir/out" | cut -d' ' -f1)
for _ in $(seq 200); do xwininfo -id "$win" 2>/dev/null | grep -q IsViewable && break; sleep 0.1; done
sleep 0.5  # let the window manager finish placing and decorating the window
place() { xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} /Map State/{m=$NF} END{print x","y" "w"x"h" "m}'; }
above() { xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE && echo above || echo normal; }
before=$(place)
echo "start:     $before $(above)"
status=0
n=1
for cmd in on off on off; do
  echo "$cmd" >&3; n=$((n + 1)); wait_ready $n; sleep 0.3
  now=$(place); state=$(above)
  echo "after $cmd: $now $state"
  [ "$now" = "$before" ] || { echo "FAIL: window moved, resized or unmapped"; status=1; }
  if [ -n "$wm" ]; then
    want=$([ "$cmd" = on ] && echo above || echo normal)
    [ "$state" = "$want" ] || { echo "FAIL: _NET_WM_STATE is $state, expected $want"; status=1; }
  fi
  [ "$(head -1 "$dir/out" | cut -d' ' -f1)" = "$(tail -1 "$dir/out" | cut -d' ' -f1)" ] || { echo "FAIL: window re-created"; status=1; }
done
echo quit >&3
[ $status -eq 0 ] && echo "PASS${wm:+ (with openbox)}"
exit $status
