#!/usr/bin/env bash
# Builds the 32-bit tree (build/) and the 64-bit tree (build64/), then the release
# package: build/release/kal_drv-<version>.zip and build/release/SHA256SUMS.
# Builds only what the package holds; the tests are built by scripts/test.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
build64=${BUILD64_DIR:-$root/build64}
BUILD_DIR=$build BUILD64_DIR=$build64 bash "$root/scripts/build64.sh" kal_drv64 kal_drv64_lib kalsay
BUILD_DIR=$build bash "$root/scripts/build.sh" kal_drv kal_drv_lib kal_host32 kalsay
# The package target builds the whole tree first; this one packs what is built.
cmake -S "$root" -B "$build" -DKAL_BUILD64_DIR="$build64" >/dev/null
(cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
cat "$build/release/SHA256SUMS"
(cd "$build/release" && sha256sum -c SHA256SUMS >/dev/null)
echo "package: $(ls "$build"/release/kal_drv-*.zip)"
