#!/usr/bin/env bash
# The filter's whole life, many times over, under valgrind's memcheck: no
# leak from the module's code and no invalid access anywhere.
#   TAVIMORE_LIFECYCLE_CYCLES=1000 bash scripts/test.d/40-lifecycle-valgrind.sh
cd "$(dirname "$0")/../.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}" libgtest-dev googletest xvfb xauth valgrind

build=build/valgrind
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target lifecycle-tests -j2

log=$(mktemp)
trap 'rm -f "$log"' EXIT
export TAVIMORE_LIFECYCLE_CYCLES=${TAVIMORE_LIFECYCLE_CYCLES:-1000}
status=0
tests/with-display.sh valgrind --leak-check=full --show-leak-kinds=definite \
	--num-callers=40 --log-file="$log" \
	"$build/tests/lifecycle-tests" || status=$?

sed -n '/LEAK SUMMARY/,/suppressed:/p' "$log"
grep 'ERROR SUMMARY' "$log" || true

# A definitely lost block with one of the module's frames in its stack.
module_frames='tavimore-free\.so|zoom-[a-z]+\.cpp|plugin-(main|support)\.cpp'
if ! awk -v frames="$module_frames" '
	/are definitely lost in loss record/ { rec = $0 "\n"; open = 1; next }
	open && /^==[0-9]+== *$/ {
		open = 0
		if (rec ~ frames) { printf "%s", rec; bad++ }
		next
	}
	open { rec = rec $0 "\n" }
	END { exit bad > 0 }
' "$log"; then
	echo "FAILED: memory definitely lost from the module (above)"
	status=1
fi
if grep -E -A20 'Invalid (read|write|free)|Mismatched free|Conditional jump|uninitialised|overlap' "$log"; then
	echo "FAILED: memcheck reports an invalid access (above)"
	status=1
fi
[ "$status" -eq 0 ] && echo "lifecycle under memcheck: $TAVIMORE_LIFECYCLE_CYCLES cycles clean"
exit "$status"
