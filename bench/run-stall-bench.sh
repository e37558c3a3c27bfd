#!/usr/bin/env bash
# Builds the stall benchmark if needed, makes its clips, and runs it; prints one table:
# action | longest stall of the event loop, ms | aim | met?
#
#   bash bench/run-stall-bench.sh [--runs N]
#
# BUILD_DIR (default: build at the repository root) must already be configured,
# preferably with -DCMAKE_BUILD_TYPE=Release.
set -euo pipefail

die() { echo "run-stall-bench: $*" >&2; exit 1; }

repo=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
[[ $build == /* ]] || build=$PWD/$build
[[ -f $build/CMakeCache.txt ]] ||
    die "'$build' is not a configured build folder; run: cmake -S '$repo' -B '$build' -G Ninja -DCMAKE_BUILD_TYPE=Release"

cmake --build "$build" --target kino_stall_bench
bash "$repo/tests/fixtures/make-fixtures.sh" "$build/fixtures" --bench
# A 4K Motion JPEG clip, whose frame is copied.
clip=$build/fixtures/mjpeg4k.avi
if [[ ! -s $clip ]]; then
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=3840x2160:rate=25:duration=4 \
        -c:v mjpeg -q:v 4 "$clip.tmp.avi"
    mv -f -- "$clip.tmp.avi" "$clip"
fi

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
exec "$build/bench/kino_stall_bench" "$build/fixtures" "$@"
