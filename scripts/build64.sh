#!/usr/bin/env bash
# Configures and builds the 64-bit tree into build64/ (kal_drv64.dll, the 64-bit
# kalsay, the bridge's tests and bench): every target, or the ones named. It
# takes kal_drv.dll, kal_host32.exe and the simulated engine from the 32-bit
# tree, which it builds first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
build64=${BUILD64_DIR:-$root/build64}
BUILD_DIR=$build bash "$root/scripts/build.sh" kal_drv kal_host32 simengine simengine_missing
cmake -S "$root" -B "$build64" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAL_BUILD32_DIR="$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
# Two jobs: the machines this runs on are shared.
cmake --build "$build64" -j "${JOBS:-2}" ${1:+--target "$@"}
