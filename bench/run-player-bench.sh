#!/usr/bin/env bash
# Builds the playback-control benchmark if needed, makes the large media clips, and
# runs it; prints one table: figure | ours | reference | ratio | target | met?
#
#   bash bench/run-player-bench.sh [kino_player_bench options...]
#
# BUILD_DIR (default: build at the repository root) must already be configured,
# preferably with -DCMAKE_BUILD_TYPE=Release. Options are passed on, e.g.
# --runs 9, --cpu-runs 5, --opens 500, --only first-frame,cpu,memory.
set -euo pipefail

die() { echo "run-player-bench: $*" >&2; exit 1; }

repo=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
[[ $build == /* ]] || build=$PWD/$build

[[ -f $build/CMakeCache.txt ]] ||
    die "'$build' is not a configured build folder; run: cmake -S '$repo' -B '$build' -G Ninja -DCMAKE_BUILD_TYPE=Release"
command -v gst-launch-1.0 >/dev/null 2>&1 ||
    die "gst-launch-1.0 (the reference) is missing; Debian package gstreamer1.0-tools"

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [[ $build_type != Release ]]; then
    echo "run-player-bench: note: '$build' is a '${build_type:-default}' build; figures are meant for Release" >&2
fi

cmake --build "$build" --target kino_player_bench
bash "$repo/tests/fixtures/make-fixtures.sh" "$build/fixtures" --bench

# The children show the control on the offscreen platform unless the caller chose one.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec "$build/bench/kino_player_bench" --fixtures "$build/fixtures" "$@"
