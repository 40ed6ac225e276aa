#!/usr/bin/env bash
# Builds the native product (no sanitizer) into build-native/release: the
# driver libkal_drv.so and its helper kal_helper (isolated mode, on in the
# product's kal.ini), the eSpeak NG engine nalvoapi.so, kalsay, kal.ini and
# espeakengine.ini, speech-dispatcher's module sd_kal and its kal.conf, all in
# <build>/product; with arguments, only those targets.
#   usage: build-native.sh [TARGET...]      (NATIVE_PRODUCT_DIR: another build tree)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NATIVE_PRODUCT_DIR:-$root/build-native/release}
# The folders in the debug information as "." and "build": the product's binaries
# do not depend on where the tree was checked out (the package's same bytes).
prefix_maps="-ffile-prefix-map=$root=. -ffile-prefix-map=$build=build"
cmake -S "$root/native" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKAL_SANITIZE= \
  "-DCMAKE_C_FLAGS=$prefix_maps" "-DCMAKE_CXX_FLAGS=$prefix_maps" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$build" -j2 --target "$@"
else
  cmake --build "$build" -j2 --target kal_drv kal_helper espeakengine kalsay sd_kal
fi
