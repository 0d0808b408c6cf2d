#!/usr/bin/env bash
# Builds the module and its tests once more with ThreadSanitizer and runs the
# tests where threads meet: key presses and obs-websocket requests on the
# test's own threads against libobs's graphics thread, stage count changes
# among them, read-backs of the filter from the test's thread while libobs
# ticks it, and the pointer sampler's thread against the frame.
cd "$(dirname "$0")/../.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}" libgtest-dev googletest xvfb xauth \
	libegl-mesa0 libgl1-mesa-dri
build=${TAVIMORE_TSAN_BUILD:-build/tsan}
flags="-fsanitize=thread -fno-omit-frame-pointer"
tests=(hotkey-tests hotkey-stress-tests hotkey-save-tests render-tests hotkey-render-tests tracking-tests face-tests
	stage-key-tests remote-tests remote-stress-tests tracking-capture-tests)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
	-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
	-DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread \
	-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$build" -j2 --target "${tests[@]}"

# Any report fails the run; tsan.supp lists what lies inside libobs itself.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp ${TSAN_OPTIONS:-}"
# RemoteDestroy.* stays out: libobs's reference counts are atomics compiled into
# libobs, which ThreadSanitizer does not see, so it cannot tell that a
# request's reference keeps a source alive until libobs frees it on its
# destruction thread, and reports that free as a race. The address sanitizer
# step runs it, and catches any use after free.
for test in "${tests[@]}"; do
	echo "-- $test under ThreadSanitizer"
	skip=-
	[ "$test" = remote-stress-tests ] && skip=-RemoteDestroy.*
	[ "$test" = tracking-capture-tests ] && skip=AutoZoom.* # the automatic zoom alone
	timeout 900 tests/with-display.sh "$build/tests/$test" --gtest_brief=1 --gtest_filter="$skip"
done
echo "-- hotkey-tests under ThreadSanitizer, the hotkey work on a UI thread"
TAVIMORE_TEST_UI_THREAD=1 timeout 900 tests/with-display.sh "$build/tests/hotkey-tests" --gtest_brief=1
echo "thread sanitizer: no reports"
