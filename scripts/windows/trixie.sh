#!/usr/bin/env bash
# A Debian 13 (trixie) root with its Wine 10, whose Direct3D 11 (wined3d on
# Mesa's llvmpipe) runs OBS's libobs-d3d11; Debian 12's Wine 8 cannot.
#   trixie.sh make ROOT          makes the root once (about two minutes)
#   trixie.sh run ROOT CMD...    runs CMD on the host with the root mounted:
#                                wine-run.sh then starts wine inside it
# Inside the root, this checkout (and the folders in TAVIMORE_TRIXIE_BIND,
# colon-separated) appear read-only at their own paths; the X display is
# reached through its abstract socket, with a copy of its authority file.
# Nothing of the host is mounted writable into the root, so that no removal
# inside it can reach the host.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)

mounted=()

# True when anything is mounted at or under the folder.
has_mounts() {
	local dir
	dir=$(realpath -m "$1")
	awk -v d="$dir" '$2 == d || index($2, d "/") == 1 { found = 1 } END { exit !found }' /proc/mounts
}

mount_at() { # mount_at [OPTIONS...] SOURCE TARGET [read-only]
	local target=${*: -1}
	mkdir -p "$target"
	mount "$@"
	mounted=("$target" "${mounted[@]}")
}

bind_read_only() { # bind_read_only SOURCE TARGET
	mount_at --bind "$1" "$2"
	mount -o remount,bind,ro "$2"
}

# what any command inside the root needs: proc, sys and the devices
mount_system() {
	local root=$1
	mount_at -t proc proc "$root/proc"
	mount_at -t sysfs sys "$root/sys"
	bind_read_only /dev "$root/dev"
	mount_at -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
	mount_at -t tmpfs shm "$root/dev/shm"
}

mount_all() {
	local root=$1 dir
	mount_system "$root"
	IFS=: read -r -a binds <<<"${TAVIMORE_TRIXIE_BIND:-}"
	for dir in "$repo" "${binds[@]}"; do
		[ -n "$dir" ] && bind_read_only "$dir" "$root$dir"
	done
	if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
		cp "$XAUTHORITY" "$root/root/.Xauthority"
	fi
}

unmount_all() {
	local target
	for target in "${mounted[@]}"; do
		umount "$target" 2>/dev/null || umount -l "$target" || true
	done
	mounted=()
}

make_root() {
	local root=$1
	[ -x "$root/usr/bin/wine" ] && return 0
	if has_mounts "$root.new" || has_mounts "$root"; then
		echo "trixie: something is still mounted under $root: not touching it" >&2
		return 1
	fi
	rm -rf --one-file-system "$root.new"
	mkdir -p "$(dirname "$root")"
	debootstrap --variant=minbase trixie "$root.new" http://deb.debian.org/debian >"$root.log" 2>&1 ||
		{ tail -n 20 "$root.log"; return 1; }
	# no service starts inside the root
	printf '#!/bin/sh\nexit 101\n' >"$root.new/usr/sbin/policy-rc.d"
	chmod +x "$root.new/usr/sbin/policy-rc.d"
	(
		mount_system "$root.new"
		trap unmount_all EXIT
		cp /etc/resolv.conf "$root.new/etc/resolv.conf"
		chroot "$root.new" apt-get update -q >>"$root.log" 2>&1
		DEBIAN_FRONTEND=noninteractive chroot "$root.new" apt-get install -y -q \
			--no-install-recommends wine wine64 libgl1-mesa-dri libgl1 libegl1 >>"$root.log" 2>&1
		chroot "$root.new" apt-get clean
	) || { tail -n 20 "$root.log"; return 1; }
	mv "$root.new" "$root"
}

case "${1:-}" in
make) make_root "$2" ;;
run)
	root=$2
	shift 2
	trap unmount_all EXIT
	mount_all "$root"
	TAVIMORE_WINE_ROOT="$root" "$@"
	;;
*)
	echo "usage: $0 make ROOT | run ROOT CMD..." >&2
	exit 2
	;;
esac
