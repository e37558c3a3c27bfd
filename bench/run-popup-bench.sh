#!/usr/bin/env bash
# Builds the drop-down benchmark if needed and runs it; prints one table:
# figure | ours | reference | ratio | target | met?
#
#   bash bench/run-popup-bench.sh [kino_popup_bench options...]
#
# BUILD_DIR (default: build at the repository root) must already be configured,
# preferably with -DCMAKE_BUILD_TYPE=Release. Options are passed on, e.g. --runs 9,
# --reference-runs 5.
set -euo pipefail

die() { echo "run-popup-bench: $*" >&2; exit 1; }

repo=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
[[ $build == /* ]] || build=$PWD/$build

[[ -f $build/CMakeCache.txt ]] ||
    die "'$build' is not a configured build folder; run: cmake -S '$repo' -B '$build' -G Ninja -DCMAKE_BUILD_TYPE=Release"

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [[ $build_type != Release ]]; then
    echo "run-popup-bench: note: '$build' is a '${build_type:-default}' build; figures are meant for Release" >&2
fi

cmake --build "$build" --target kino_popup_bench
# The windows are shown on the offscreen platform unless the caller chose one.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec "$build/bench/kino_popup_bench" "$@"
