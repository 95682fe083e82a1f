#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# scripts/install-deps.sh against a fake dpkg-query and apt-get: which sound servers it installs
# on which machine, and that it installs nothing when apt would remove a package.
set -eu
script=${1:?path to install-deps.sh}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin"

# $FAKE_INSTALLED: the installed packages. $FAKE_CONFLICTS: "package:victim" pairs, the victim
# being what apt removes to install the package. Every apt-get call is logged to $FAKE_LOG.
cat >"$tmp/bin/dpkg-query" <<'SH'
#!/bin/sh
for p in $FAKE_INSTALLED; do [ "$p" = "$3" ] && { echo "install ok installed"; exit 0; }; done
exit 1
SH
cat >"$tmp/bin/apt-get" <<'SH'
#!/bin/sh
echo "$*" >>"$FAKE_LOG"
[ "$1" = -s ] || exit 0
for p in "$@"; do
  case $p in -*|install) continue ;; esac
  echo "Inst $p"
  for c in $FAKE_CONFLICTS; do [ "${c%%:*}" = "$p" ] && echo "Remv ${c#*:}"; done
done
exit 0
SH
printf '#!/bin/sh\nexec "$@"\n' >"$tmp/bin/sudo"
chmod +x "$tmp/bin/"*

fail=0
# run NAME EXPECTED-STATUS INSTALLED CONFLICTS ARGS...: runs the script, leaves the real
# installs (not the dry runs) in $installs and the output in $out.
run() {
  local name=$1 want=$2 status=0
  export FAKE_INSTALLED=$3 FAKE_CONFLICTS=$4 FAKE_LOG=$tmp/$name.log
  shift 4
  : >"$FAKE_LOG"
  out=$(PATH="$tmp/bin:$PATH" PACKAGES="" "$script" "$@" 2>&1) || status=$?
  installs=" $(grep '^install ' "$FAKE_LOG" | tr '\n' ' ') "
  if [ "$status" != "$want" ]; then
    echo "FAIL $name: exit status $status, expected $want"; echo "$out"; fail=1
  fi
}
has() { case $installs in *" $2 "*) ;; *) echo "FAIL $1: $2 not installed: $installs"; fail=1 ;; esac; }
lacks() { case $installs in *" $2 "*) echo "FAIL $1: $2 installed: $installs"; fail=1 ;; esac; }
says() { case $out in *"$2"*) ;; *) echo "FAIL $1: no \"$2\" in:"; echo "$out"; fail=1 ;; esac; }

# A desktop whose sound is PipeWire's: pulseaudio would replace pipewire-audio, so it is left
# out; the PipeWire server's missing tools are added beside it.
desktop="pipewire-audio pipewire pipewire-pulse wireplumber dbus cmake"
run pipewire-desktop 0 "$desktop" "pulseaudio:pipewire-audio" --test-servers cmake g++
! grep -qE ' pulseaudio( |$)' "$FAKE_LOG" || { echo "FAIL pipewire-desktop: apt was asked for pulseaudio"; fail=1; }
has pipewire-desktop g++
has pipewire-desktop pipewire-bin
has pipewire-desktop sox
says pipewire-desktop "PulseAudio test server: skipped"
grep -q -- '--no-remove' "$FAKE_LOG" || { echo "FAIL pipewire-desktop: install without --no-remove"; fail=1; }

# `make run`'s packages on the same desktop: no server at all.
run pipewire-desktop-run 0 "$desktop" "pulseaudio:pipewire-audio" g++ libpulse-dev
lacks pipewire-desktop-run pulseaudio
lacks pipewire-desktop-run pipewire-bin

# A fresh machine (CI) gets both servers.
run fresh 0 "" "" --test-servers cmake
for p in cmake pulseaudio pipewire pipewire-pulse wireplumber; do has fresh $p; done

# A PulseAudio desktop keeps PulseAudio alone.
run pulse-desktop 0 "pulseaudio pulseaudio-utils" "" --test-servers
lacks pulse-desktop pipewire-pulse
says pulse-desktop "PipeWire test server: skipped"

# A build dependency that apt can only have by removing something: nothing is installed.
run removal 1 "" "libfoo-dev:pipewire-audio" g++ libfoo-dev
lacks removal g++
says removal "would remove pipewire-audio"

exit $fail
