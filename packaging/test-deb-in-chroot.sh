#!/bin/sh
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Installs a tavrin .deb on a clean Debian 12 system (a debootstrap'ed chroot) with apt, so that
# apt resolves the package's dependencies from the archive, then starts the installed program
# headless on the fake audio backend and checks that it recorded into the per-user folders.
#
#   packaging/test-deb-in-chroot.sh build/tavrin_2.18_amd64.deb
#
# Needs root, debootstrap and the Debian archive (about 150 MB the first time). The bare system
# is kept in $TAVR_CHROOT_CACHE (default /var/tmp/tavrin-package-test/base) and copied afresh
# for every run, so each run starts clean. TAVR_APT_RECOMMENDS=no installs without the
# recommended packages, to check that the hard dependencies alone start the program.
set -eu

[ $# -eq 1 ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
deb=$(readlink -f "$1")
[ -f "$deb" ] || { echo "no such package: $1" >&2; exit 2; }
. "$(dirname "$0")/chroot-common.sh"
cp "$deb" "$root/tmp/"
pkg=/tmp/$(basename "$deb")

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== apt-get install ${TAVR_APT_RECOMMENDS:+(recommends: $TAVR_APT_RECOMMENDS) }$pkg"
in_root apt-get update -q >/dev/null
apt_opts=
[ "${TAVR_APT_RECOMMENDS:-yes}" = no ] && apt_opts=--no-install-recommends
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $apt_opts "$pkg" >"$root/tmp/apt.log" 2>&1 \
    || { tail -30 "$root/tmp/apt.log" >&2; exit 1; }
grep -E '^Need to get|newly installed' "$root/tmp/apt.log" || true
in_root dpkg-query -W -f='Depends: ${Depends}\nRecommends: ${Recommends}\n' tavrin

missing=$(in_root sh -c 'ldd /usr/bin/tavr | grep "not found" || true')
[ -z "$missing" ] || { echo "FAIL: unresolved libraries: $missing" >&2; exit 1; }
[ -n "$(in_root fc-list :lang=ja)" ] || { echo "FAIL: no font with Japanese glyphs" >&2; exit 1; }
for f in /usr/bin/tavr /usr/share/tavrin/tavr.hlp /usr/share/applications/tavrin.desktop \
         /usr/share/icons/hicolor/32x32/apps/tavrin.png /usr/share/icons/hicolor/scalable/apps/tavrin.svg \
         /usr/share/doc/tavrin/copyright /usr/share/man/man1/tavr.1.gz /usr/share/man/ja/man1/tavr.1.gz; do
    [ -f "$root$f" ] || { echo "FAIL: $f is not installed" >&2; exit 1; }
done

# "-rec" with the stop timer armed at 00:00:02 and auto-save: the fake backend runs on the wall
# clock, so after two seconds the recording stops and is saved under a time stamp.
mkdir -p "$root/root/.config/tavrin"
printf '[Setting]\r\nTimerON=1\r\nTimer=00:00:02\r\nAutoSave=1\r\n' >"$root/root/.config/tavrin/tavr.ini"

echo "== tavr -rec (offscreen, fake audio)"
in_root env QT_QPA_PLATFORM=offscreen TAVRIN_AUDIO=fake tavr -rec >"$root/tmp/tavr.log" 2>&1 &
pid=$!
saved=
i=0
while [ $i -lt 150 ]; do
    saved=$(ls "$root/root/.local/share/tavrin/" 2>/dev/null | grep -E '^[0-9]{10}\.wav$' || true)
    [ -n "$saved" ] && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.2
    i=$((i + 1))
done
alive=no
kill -0 $pid 2>/dev/null && alive=yes
kill -TERM $pid 2>/dev/null || true
wait $pid || true
cat "$root/tmp/tavr.log"

[ "$alive" = yes ] || { echo "FAIL: tavr ended by itself" >&2; exit 1; }
[ -n "$saved" ] || { echo "FAIL: no auto-saved recording in ~/.local/share/tavrin" >&2; exit 1; }
[ "$(head -c 4 "$root/root/.local/share/tavrin/tavr.wav")" = RIFF ] \
    || { echo "FAIL: no work file in ~/.local/share/tavrin" >&2; exit 1; }
stray=$(ls "$root/usr/bin" | grep -E '^tavr\.(ini|wav)$|^[0-9]{10}\.wav$' || true)
[ -z "$stray" ] || { echo "FAIL: wrote into /usr/bin: $stray" >&2; exit 1; }
echo "== PASS: installed from $(basename "$deb"), started, auto-saved ~/.local/share/tavrin/$saved"
