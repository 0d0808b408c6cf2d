#!/usr/bin/env bash
# OBS Studio itself: the suite tests/obs-studio (pytest) in the OBS Studio of
# Debian 12 (this machine's), Debian 13 and sid (chroots made by
# scripts/obs-chroot.sh, kept in build/obs-chroots for the next run), each
# with the Debian package of dist/ installed by apt, and Debian 12's with the
# per-user archive. Every root is an overlay on a tmpfs, in a mount namespace
# of this step's own: what apt and OBS write there, and every mount, goes
# when the step ends, however it ends. The suite runs in a network namespace
# with only loopback up, so that OBS's obs-websocket and X server meet no other.
#   TAVIMORE_OBS_RELEASES="trixie" limits the chroots; TAVIMORE_KEEP=1 keeps
#   each OBS session's folder; further arguments go to pytest.
cd "$(dirname "$0")/../.."
. scripts/common.sh

if [ "${1:-}" != --in-namespace ]; then
	apt_install obs-studio xvfb xauth libegl-mesa0 libgl1-mesa-dri iproute2 debootstrap \
		python3-pytest python3-websocket python3-pil python3-numpy python3-xlib gcc libc6-dev
	[ -n "$(ls dist/*.deb 2>/dev/null)" ] || bash scripts/package.sh
	# the chroots side by side: mostly downloads and unpacking
	pids=()
	for release in ${TAVIMORE_OBS_RELEASES-trixie sid}; do
		bash scripts/obs-chroot.sh "$release" "build/obs-chroots/$release" &
		pids+=($!)
	done
	for pid in "${pids[@]}"; do wait "$pid"; done
	exec unshare --mount --propagation private bash "$0" --in-namespace "$@"
fi
shift
deb=$(realpath dist/*.deb)
roots=$(realpath -m build/obs-roots)
mkdir -p "$roots"
mount -t tmpfs tmpfs "$roots"
overlay_root() { # overlay_root NAME LOWER: an overlay of LOWER, in $root
	root=$roots/$1/root
	mkdir -p "$roots/$1"/{upper,work,root}
	mount -t overlay overlay -o "lowerdir=$(realpath "$2"),upperdir=$roots/$1/upper,workdir=$roots/$1/work" "$root"
	for m in proc sys dev; do mount --rbind "/$m" "$root/$m"; done
	mount -t tmpfs tmpfs "$root/dev/shm"
}
# the per-user archive in Debian 12's OBS, in a root of its own with no
# system copy of the module
overlay_root debian12-user /
user_root=$root
obs=()
for entry in debian12=/ $(for r in ${TAVIMORE_OBS_RELEASES-trixie sid}; do echo "$r=build/obs-chroots/$r"; done); do
	name=${entry%%=*}
	overlay_root "$name" "${entry#*=}"
	cp "$deb" "$root/tmp/"
	echo "-- $name: apt-get install ./$(basename "$deb")"
	chroot "$root" apt-get install -y -q --no-install-recommends "./tmp/$(basename "$deb")" >"$roots/$name.apt" 2>&1 || {
		cat "$roots/$name.apt"
		echo "FAILED: the package does not install in $name"
		exit 1
	}
	echo "   obs-studio $(chroot "$root" dpkg-query -W -f='${Version}' obs-studio)," \
		"obs-tavimore-free $(chroot "$root" dpkg-query -W -f='${Version} ${Status}' obs-tavimore-free)"
	obs+=("$name=$root")
done
export TAVIMORE_OBS="${obs[*]}" TAVIMORE_TARBALL="$(realpath dist/*.tar.xz)" TAVIMORE_USER_ROOT="$user_root"
# Debian's Python, with Debian's pytest, websocket, PIL, numpy and Xlib; in a
# PID namespace too, so that no OBS or Xvfb outlives the suite
exec unshare --net --pid --fork --kill-child --mount-proc bash -c 'ip link set lo up &&
	/usr/bin/python3 -m pytest -p no:cacheprovider -v "${@:-tests/obs-studio}"' bash "$@"
