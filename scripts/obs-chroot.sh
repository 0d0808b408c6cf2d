#!/usr/bin/env bash
# A Debian release's own OBS Studio, in a chroot for the OBS Studio suite:
#   bash scripts/obs-chroot.sh RELEASE DIR
# makes DIR (debootstrap minbase) with that release's obs-studio and Mesa's
# software OpenGL (libgl1 too: sid's libobs-opengl opens libGL.so.1 without
# depending on it), once: a DIR whose .ready names the OBS version is kept.
# The mounts that debootstrap and apt need live in a mount namespace of this
# script's own, so they go with it, whatever happens.
cd "$(dirname "$0")/.."
. scripts/common.sh
release=$1 dir=$2
if [ "${3:-}" != --in-namespace ]; then
	[ -f "$dir/.ready" ] && exit 0
	command -v debootstrap >/dev/null || apt_install debootstrap
	# a leftover of an earlier try goes, unless something is mounted in it
	if grep -qF " $(realpath -m "$dir")/" /proc/mounts; then
		echo "$dir has mounts in it: not removing it" >&2
		exit 1
	fi
	rm -rf "$dir"
	mkdir -p "$(dirname "$dir")"
	exec unshare --mount --propagation private bash "$0" "$release" "$dir" --in-namespace
fi
fail() {
	tail -n 30 "$dir.log"
	echo "FAILED: $1 (log: $dir.log)"
	exit 1
}
debootstrap --variant=minbase "$release" "$dir" http://deb.debian.org/debian >"$dir.log" 2>&1 || fail debootstrap
# sid's Release file may be past its Valid-Until; no service starts in here
echo 'Acquire::Check-Valid-Until "false";' >"$dir/etc/apt/apt.conf.d/99tavimore"
printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
chmod +x "$dir/usr/sbin/policy-rc.d"
for m in proc sys dev; do mount --rbind "/$m" "$dir/$m"; done
{
	chroot "$dir" apt-get update -q &&
		chroot "$dir" apt-get install -y -q --no-install-recommends \
			obs-studio libegl-mesa0 libgl1-mesa-dri libgl1
} >>"$dir.log" 2>&1 || fail "installing $release's obs-studio"
chroot "$dir" dpkg-query -W -f='${Version}\n' obs-studio >"$dir/.ready"
echo "$release: obs-studio $(cat "$dir/.ready") in $dir"
