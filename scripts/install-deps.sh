#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Installs the Debian packages that are missing, and never removes one to do it.
#   scripts/install-deps.sh [--test-servers] [PACKAGE...]   # also reads $PACKAGES
#
# --test-servers adds the sound servers that the tests start privately, but only where that
# changes nothing the user relies on. Each server is one "leg":
#   PulseAudio: only where no PipeWire sound service (pipewire-audio, pipewire-pulse) is
#     installed, since pulseaudio and pipewire-audio conflict and apt would swap them;
#   PipeWire: only where no PulseAudio server is installed, since pipewire-pulse enables a
#     per-user socket that takes pulseaudio's place at the next login.
# Both are decided before anything is installed, so a fresh machine gets both. A leg that
# cannot be had is skipped with a message; it never fails the run. The tests look for the
# `pulseaudio` and `pipewire` commands and skip the leg that is missing.
set -eu

servers=no
wanted=()
for arg in "$@"; do
  case "$arg" in
    --test-servers) servers=yes ;;
    -*) echo "usage: $0 [--test-servers] [PACKAGE...]" >&2; exit 2 ;;
    *) wanted+=("$arg") ;;
  esac
done
# shellcheck disable=SC2206 # a word list on purpose
wanted+=(${PACKAGES:-})

PULSE_LEG=(pulseaudio pulseaudio-utils)
PIPEWIRE_LEG=(pipewire pipewire-pulse pipewire-bin wireplumber dbus pulseaudio-utils sox)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

missing_of() {
  local p
  for p in "$@"; do installed "$p" || printf '%s\n' "$p"; done
}

pulse_leg=no
pipewire_leg=no
if [ "$servers" = yes ]; then
  if installed pulseaudio; then
    pulse_leg=yes
  elif installed pipewire-audio || installed pipewire-pulse; then
    echo "PulseAudio test server: skipped. This machine's sound goes through PipeWire, and" \
         "installing pulseaudio would replace it."
  else
    pulse_leg=yes
  fi
  if installed pipewire-pulse; then
    pipewire_leg=yes
  elif installed pulseaudio; then
    echo "PipeWire test server: skipped. This machine's sound goes through PulseAudio, and" \
         "pipewire-pulse would take its place at the next login."
  else
    pipewire_leg=yes
  fi
fi

mapfile -t base_missing < <(missing_of "${wanted[@]}")
pulse_missing=()
pipewire_missing=()
[ "$pulse_leg" = yes ] && mapfile -t pulse_missing < <(missing_of "${PULSE_LEG[@]}")
[ "$pipewire_leg" = yes ] && mapfile -t pipewire_missing < <(missing_of "${PIPEWIRE_LEG[@]}")
if [ ${#base_missing[@]} -eq 0 ] && [ ${#pulse_missing[@]} -eq 0 ] && [ ${#pipewire_missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q

# Installs the packages given, after a dry run shows that apt removes nothing for them.
# Returns 1 when apt would remove something (the names are in $removals), 2 when apt fails.
removals=""
install_beside() {
  local plan
  plan=$(apt-get -s install --no-install-recommends "$@" 2>&1) || { printf '%s\n' "$plan" >&2; return 2; }
  removals=$(printf '%s\n' "$plan" | awk '$1 == "Remv" { printf "%s ", $2 }')
  [ -z "$removals" ] || return 1
  echo "Installing: $*"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends --no-remove "$@" || return 2
}

if [ ${#base_missing[@]} -gt 0 ]; then
  status=0
  install_beside "${base_missing[@]}" || status=$?
  if [ $status -eq 1 ]; then
    echo "install-deps: installing ${base_missing[*]} would remove ${removals}from this machine." >&2
    echo "Nothing was installed. Install those packages yourself if you want that change." >&2
    exit 1
  fi
  [ $status -eq 0 ] || { echo "install-deps: apt-get could not install ${base_missing[*]}" >&2; exit 1; }
fi

leg() { # NAME PACKAGE...
  local name=$1 status=0
  shift
  [ $# -gt 0 ] || return 0
  install_beside "$@" || status=$?
  case $status in
    0) ;;
    1) echo "$name test server: skipped. Installing $* would remove ${removals% }." ;;
    *) echo "$name test server: skipped. apt-get could not install $*." ;;
  esac
}
leg PulseAudio "${pulse_missing[@]}"
leg PipeWire "${pipewire_missing[@]}"
