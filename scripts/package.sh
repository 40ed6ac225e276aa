#!/usr/bin/env bash
# Builds the 32-bit tree (build/) and the 64-bit tree (build64/), then the release
# package: build/release/kal_drv-<version>.zip and build/release/SHA256SUMS; then
# the native product (build-native/release/product, scripts/build-native.sh) and
# its Debian package, build-native/release/deb/kal-drv_<version>_<arch>.deb
# (scripts/package-deb.sh). Builds only what the packages hold; the tests are
# built by scripts/test.sh. Both packages take their file times from the commit:
# packing one commit twice gives the same bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
build64=${BUILD64_DIR:-$root/build64}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
echo "package: building the 64-bit tree $build64 (and what it takes from $build)"
BUILD_DIR=$build BUILD64_DIR=$build64 bash "$root/scripts/build64.sh" kal_drv64 kal_drv64_lib kalsay
echo "package: building the 32-bit tree $build"
BUILD_DIR=$build bash "$root/scripts/build.sh" kal_drv kal_drv_lib kal_host32 kalsay simengine
# The package target builds the whole tree first; this one packs what is built.
cmake -S "$root" -B "$build" -DKAL_BUILD64_DIR="$build64" >/dev/null
echo "package: packing the zip"
(cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
cat "$build/release/SHA256SUMS"
(cd "$build/release" && sha256sum -c SHA256SUMS >/dev/null)
echo "package: $(ls "$build"/release/kal_drv-*.zip)"
echo "package: building the native product"
bash "$root/scripts/build-native.sh"
bash "$root/scripts/package-deb.sh"
