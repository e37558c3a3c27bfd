#!/usr/bin/env bash
# Installs what is missing, builds the player (Release) and starts it with the
# given files, folders and URLs. Relative paths are taken from where it is called.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKINO_SANITIZE=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc 2>/dev/null || echo 2)" --target kinolite
exec "$root/build/kinolite" "$@"
