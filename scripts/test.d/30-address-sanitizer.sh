#!/usr/bin/env bash
# The whole test suite once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (module, harness and tests alike, with gcc) and
# run in the real, uninstrumented libobs. Any report fails the run.
cd "$(dirname "$0")/../.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}" libgtest-dev googletest xvfb xauth \
	libegl-mesa0 libgl1-mesa-dri

build=build/asan
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
	-DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
	-DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
	-DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" \
	-DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
	-DTAVIMORE_SANITIZER_SUPPORT=ON >/dev/null
cmake --build "$build" -j2

here=$(pwd)/scripts/sanitizers
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=1"
export UBSAN_OPTIONS="suppressions=$here/ubsan.supp:print_stacktrace=1:halt_on_error=1"

# (alloc-tests skips its counting here: the sanitizer owns malloc)
(cd "$build" && ctest --output-on-failure -E '^(preview-tests|tracking-capture-tests)$')
# The preview tool's runs go without the leak check: on a fresh Debian 12 root,
# LeakSanitizer's own tracer crashes (signal 11 on a garbage dynamic-TLS entry)
# at the exit of one of them. The module's leaks are checked by every test
# above and by the valgrind lifecycle run.
(cd "$build" && ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" ctest --output-on-failure -R '^preview-tests$')
# OBS's own window capture (linux-capture) leaks the X error of every lookup
# of a window that does not exist, and the stack ends inside libxcb, where no
# suppression can tell it from ours: that test runs without the leak check
# (the tracking code's X calls are leak-checked in tracking-tests above).
(cd "$build" && ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" ctest --output-on-failure -R '^tracking-capture-tests$')
echo "address and undefined-behaviour sanitizers: every test clean"
