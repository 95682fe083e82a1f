#!/bin/sh
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs the package installs of `make run` and `make test` (make deps test-deps) for real on a
# clean Debian 12 chroot that already has a sound setup, and checks that the setup survives.
#
#   packaging/test-deps-in-chroot.sh pipewire-audio   # PipeWire desktop: no pulseaudio added
#   packaging/test-deps-in-chroot.sh pulseaudio       # PulseAudio desktop: no pipewire-pulse
#   packaging/test-deps-in-chroot.sh none             # fresh machine: both test servers
#
# Needs root, debootstrap and the Debian archive (several hundred MB). Shares the bare system
# kept by test-deb-in-chroot.sh in $TAVR_CHROOT_CACHE; downloaded packages are kept in
# $TAVR_CHROOT_CACHE/archives for the next run.
set -eu

setup=${1:-pipewire-audio}
case $setup in pipewire-audio|pulseaudio|none) ;; *) echo "usage: $0 pipewire-audio|pulseaudio|none" >&2; exit 2 ;; esac
src=$(cd "$(dirname "$0")/.." && pwd)
. "$(dirname "$0")/chroot-common.sh"
mkdir -p "$cache/archives/partial"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
mkdir -p "$root/src"
for f in Makefile scripts; do cp -a "$src/$f" "$root/src/"; done

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
is_installed() { in_root dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

in_root apt-get update -q >/dev/null
# The desktop's sound setup, as Debian installs it (with its recommendations), and make.
extra=
[ "$setup" = none ] || extra=$setup
echo "== the machine: $extra make"
in_root apt-get install -y -q $extra make >"$root/tmp/setup.log" 2>&1 || { tail -30 "$root/tmp/setup.log" >&2; exit 1; }

echo "== make deps test-deps"
in_root make -C /src deps test-deps 2>&1 | grep -vE '^(Get|Selecting|Preparing|Unpacking|Setting up|Processing|Created symlink|update-alternatives|Fetched|Reading|Building|Need to get|After this|debconf|invoke-rc.d|Extracting)' || true

fail=0
check() { # PACKAGE yes|no
    if is_installed "$1"; then state=yes; else state=no; fi
    if [ "$state" = "$2" ]; then echo "ok: $1 installed: $state"; else echo "FAIL: $1 installed: $state, expected $2"; fail=1; fi
}
for p in qt6-base-dev libpulse-dev lintian reuse; do check $p yes; done
case $setup in
    pipewire-audio) check pipewire-audio yes; check pulseaudio no; check pipewire-bin yes; check sox yes ;;
    pulseaudio) check pulseaudio yes; check pipewire-pulse no ;;
    none) check pulseaudio yes; check pipewire-pulse yes; check wireplumber yes ;;
esac
[ $fail -eq 0 ] && echo "== PASS: $setup"
exit $fail
