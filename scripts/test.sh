#!/usr/bin/env bash
# Checks that no layer includes one above it, installs what is missing, builds,
# runs every test, then runs them all again in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the engine and player tests in a build with
# ThreadSanitizer, and runs the fuzz targets for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."

# Before building: a wrong include is found in a moment, not after a long build.
bash scripts/check-layers.sh

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
# No sound device is needed: the player falls back to a silent sink.
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"

run_suite() { # run_suite BUILD_DIR BUILD_TYPE [CMAKE ARGS...]
    local dir=$1 type=$2; shift 2
    echo "== Building $dir ($type $*)"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    echo "== Testing $dir"
    (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 900)
}

# The tests whose code shares state with GStreamer's streaming threads: only they are
# built and run with ThreadSanitizer.
tsan_tests=(test_engine test_player test_hostile test_jpegdecoder test_screenput test_formats)

run_tsan_suite() {
    local dir=build-tsan
    echo "== Building $dir (Debug -DKINO_TSAN=ON: ${tsan_tests[*]})"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKINO_SANITIZE=OFF -DKINO_TSAN=ON >/dev/null
    cmake --build "$dir" -j"$jobs" --target "${tsan_tests[@]}"
    echo "== Testing $dir"
    # ctest adds the tests that make their media (make_fixtures, make_corpus).
    local only
    only="^($(IFS='|'; echo "${tsan_tests[*]}"))\$"
    (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 900 -R "$only")
}

status=0
run_suite build Release -DKINO_SANITIZE=OFF -DKINO_TSAN=OFF || status=1
run_suite build-asan Debug -DKINO_SANITIZE=ON -DKINO_TSAN=OFF || status=1
run_tsan_suite || status=1
# The fuzz targets, briefly: a finding fails the run (scripts/fuzz.sh --targets for
# a longer one).
echo "== Fuzzing the picture reader, the MIDI check and the AVI header reader"
bash scripts/fuzz.sh --targets 20 || status=1
exit $status
