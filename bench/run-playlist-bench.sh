#!/usr/bin/env bash
# Builds the playlist benchmark if needed, makes (or reuses) the generated folder tree,
# and runs it; prints one table: figure | ours | reference | ratio | target | met?
# The sorted-add and memory figures are taken under C and ja_JP.UTF-8 by default.
#
#   bash bench/run-playlist-bench.sh [kino_playlist_bench options...]
#
# BUILD_DIR (default: build at the repository root) must already be configured,
# preferably with -DCMAKE_BUILD_TYPE=Release. TREE_DIR (default: $TMPDIR or /tmp,
# then kino-playlist-bench-tree) holds the tree of 50,000 files; it is made once and
# reused. Options are passed on, e.g. --runs 9, --sort-runs 5, --only folder,sort,memory,
# --locales C,ja_JP.UTF-8.
set -euo pipefail

die() { echo "run-playlist-bench: $*" >&2; exit 1; }

repo=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
[[ $build == /* ]] || build=$PWD/$build
tree=${TREE_DIR:-${TMPDIR:-/tmp}/kino-playlist-bench-tree}
[[ $tree == /* ]] || tree=$PWD/$tree

[[ -f $build/CMakeCache.txt ]] ||
    die "'$build' is not a configured build folder; run: cmake -S '$repo' -B '$build' -G Ninja -DCMAKE_BUILD_TYPE=Release"
command -v find >/dev/null 2>&1 || die "find (the reference) is missing; Debian package findutils"

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [[ $build_type != Release ]]; then
    echo "run-playlist-bench: note: '$build' is a '${build_type:-default}' build; figures are meant for Release" >&2
fi

cmake --build "$build" --target kino_playlist_bench
bench=$build/bench/kino_playlist_bench
"$bench" --tree "$tree" --make-tree

# The window is shown on the offscreen platform unless the caller chose one.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec "$bench" --tree "$tree" "$@"
