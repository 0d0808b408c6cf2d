#!/usr/bin/env bash
# A Debian 13 (trixie) root with its Wine 10, whose Direct3D 11 (wined3d on
# Mesa's llvmpipe) runs OBS's libobs-d3d11; Debian 12's Wine 8 cannot.
#   trixie.sh make ROOT          makes the root once (about two minutes)
#   trixie.sh run ROOT CMD...    runs CMD on the host with the root mounted:
#                                wine-run.sh then starts wine inside it
# The root sees the host's /tmp (the X display and its authority file), this
# checkout and the folders in TAVIMORE_TRIXIE_BIND (colon-separated) at the
# same paths.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)

make_root() {
	local root=$1
	[ -x "$root/usr/bin/wine" ] && return 0
	rm -rf "$root.new"
	mkdir -p "$(dirname "$root")"
	debootstrap --variant=minbase trixie "$root.new" http://deb.debian.org/debian >"$root.log" 2>&1 ||
		{ tail -n 20 "$root.log"; return 1; }
	# no service starts inside the root
	printf '#!/bin/sh\nexit 101\n' >"$root.new/usr/sbin/policy-rc.d"
	chmod +x "$root.new/usr/sbin/policy-rc.d"
	(
		mount_all "$root.new"
		trap 'unmount_all "$root.new"' EXIT
		chroot "$root.new" apt-get update -q >>"$root.log" 2>&1
		DEBIAN_FRONTEND=noninteractive chroot "$root.new" apt-get install -y -q --no-install-recommends \
			wine wine64 libgl1-mesa-dri libgl1 libegl1 >>"$root.log" 2>&1
		chroot "$root.new" apt-get clean
	) || { tail -n 20 "$root.log"; return 1; }
	mv "$root.new" "$root"
}

mounted=()
mount_at() { # mount ARGS... TARGET
	local target=${*: -1}
	mkdir -p "$target"
	mount "$@"
	mounted=("$target" "${mounted[@]}")
}

mount_all() {
	local root=$1 dir
	mount_at -t proc proc "$root/proc"
	mount_at -t sysfs sys "$root/sys"
	mount_at --bind /dev "$root/dev"
	mount_at --bind /dev/pts "$root/dev/pts"
	mount_at -t tmpfs shm "$root/dev/shm"
	IFS=: read -r -a binds <<<"${TAVIMORE_TRIXIE_BIND:-}"
	for dir in /tmp "$repo" "${binds[@]}"; do
		[ -n "$dir" ] && mount_at --bind "$dir" "$root$dir"
	done
	cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}

unmount_all() {
	local target
	for target in "${mounted[@]}"; do
		umount "$target" 2>/dev/null || umount -l "$target" || true
	done
	mounted=()
}

case "${1:-}" in
make) make_root "$2" ;;
run)
	root=$2
	shift 2
	mount_all "$root"
	trap unmount_all EXIT
	TAVIMORE_WINE_ROOT="$root" "$@"
	;;
*)
	echo "usage: $0 make ROOT | run ROOT CMD..." >&2
	exit 2
	;;
esac
