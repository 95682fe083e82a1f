# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Sourced by the chroot tests: a bare Debian 12 made once by debootstrap and kept in
# $TAVR_CHROOT_CACHE/base, copied afresh into $root for this run, with /proc mounted. The copy
# (and anything mounted under it) goes again when the script ends. Sets cache and root.
[ "$(id -u)" -eq 0 ] || { echo "$0 needs root (debootstrap, chroot)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "$0 needs debootstrap" >&2; exit 2; }

cache=${TAVR_CHROOT_CACHE:-/var/tmp/tavrin-package-test}
mirror=${TAVR_DEBIAN_MIRROR:-http://deb.debian.org/debian}
base=$cache/base
mkdir -p "$cache"
if [ ! -f "$base/.complete" ]; then
    echo "== debootstrap bookworm into $base"
    rm -rf "$base.tmp"
    debootstrap --variant=minbase bookworm "$base.tmp" "$mirror" >"$cache/debootstrap.log" 2>&1 \
        || { tail -20 "$cache/debootstrap.log" >&2; exit 1; }
    touch "$base.tmp/.complete"
    rm -rf "$base"
    mv "$base.tmp" "$base"
fi

root=$(mktemp -d "$cache/run.XXXXXX")
cleanup() {
    # Unmounted first, so the removal never reaches into what was bound in.
    umount "$root/var/cache/apt/archives" 2>/dev/null || true
    umount "$root/proc" 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT INT TERM
cp -a "$base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
mount -t proc proc "$root/proc"
