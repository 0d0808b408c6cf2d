#!/usr/bin/env bash
# A few seconds of each benchmark, so that they keep building and running
# (BENCHMARKS.md has the full runs). They fail only when per-frame work
# allocates or a picture is wrong, never on timing.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${TAVIMORE_TEST_BUILD:-build/test}
if [ ! -x "$build/bench/tavimore-cpu-bench" ]; then
	echo "benchmarks not built (Google Benchmark missing?)"
	exit 1
fi
# a benchmark that cannot measure what it names stops with an error, which
# Google Benchmark reports and still exits 0 for
log=$(mktemp)
trap 'rm -f "$log"' EXIT
tests/with-display.sh "$build/bench/tavimore-cpu-bench" --benchmark_min_time=0.01 | tee "$log"
if grep -q "ERROR OCCURRED" "$log"; then
	echo "a benchmark stopped with an error" >&2
	exit 1
fi
# TAVIMORE_NO_OBS_PLUGINS=1: a libobs without OBS's plug-ins (no crop filter
# or image source to compare with)
tests/with-display.sh "$build/bench/tavimore-render-bench" --frames=5 --scale-frames=3 \
	${TAVIMORE_NO_OBS_PLUGINS:+--no-obs-plugins}
# following a face needs OBS's media source
if [ -z "${TAVIMORE_NO_OBS_PLUGINS:-}" ]; then
	tests/with-display.sh "$build/bench/tavimore-face-bench" --seconds=2
fi
echo "benchmarks: smoke run passed"
