# Shared by the project's scripts: root or sudo, and apt installs.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -eq 0 ]; then
	SUDO=()
else
	# sudo's env_reset drops the environment: name it on the command line
	SUDO=(sudo DEBIAN_FRONTEND=noninteractive)
fi
APT_UPDATED=${APT_UPDATED:-}

# apt_install PACKAGE... : installs Debian packages (apt-get update once first),
# waiting for another apt to finish
apt_install() {
	if [ -z "$APT_UPDATED" ]; then
		# the lists' lock has no timeout: retry while another apt holds it
		local try
		for try in $(seq 60); do
			"${SUDO[@]}" apt-get update -q && break
			[ "$try" -lt 60 ] || return 1
			sleep 5
		done
		APT_UPDATED=1
		export APT_UPDATED
	fi
	"${SUDO[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "$@"
}

# the preview tool also needs giflib, libimagequant, FreeType with the DejaVu
# fonts, and FFmpeg's libraries (its videos); the pointer tracking xcb with
# randr, xinerama and XInput, and the tools and tests move the pointer with XTest;
# face following dlib's headers (its detector is compiled into the module)
BUILD_DEPS=(ca-certificates cmake make g++ pkg-config libobs-dev libx11-dev libpng-dev
	libgif-dev libimagequant-dev libfreetype-dev fonts-dejavu-core
	libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
	libxcb1-dev libxcb-randr0-dev libxcb-xinerama0-dev libxcb-xinput-dev libxtst-dev
	libdlib-dev)

# ctest_passed LOG: how many tests ctest ran, from the summary in its LOG
# ("100% tests passed, 0 tests failed out of N"; a failure stops earlier)
ctest_passed() { sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$1"; }

# check DESCRIPTION COMMAND... : runs one check of a test script, says ok or
# FAILED, and counts the failures in $failures
failures=0
check() { # check DESCRIPTION COMMAND...
	local what=$1
	shift
	if "$@"; then
		echo "ok: $what"
	else
		echo "FAILED: $what"
		failures=$((failures + 1))
	fi
}
