#!/usr/bin/env bash
# Configures and builds into build/ (cross-compiled for 32-bit Windows): every
# target, or only the targets named as arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw32.cmake" >/dev/null
# Two jobs: the machines this runs on are shared.
cmake --build "$build" -j "${JOBS:-2}" ${1:+--target "$@"}
