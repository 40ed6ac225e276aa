#!/usr/bin/env bash
# Builds the native product (no sanitizer) into build-native/product: the
# driver libkal_drv.so and its helper kal_helper (isolated mode, on in the
# product's kal.ini), the eSpeak NG engine nalvoapi.so, kalsay, kal.ini and
# espeakengine.ini, all in <build>/product; with arguments, only those targets.
#   usage: build-native.sh [TARGET...]      (NATIVE_PRODUCT_DIR: another build tree)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NATIVE_PRODUCT_DIR:-$root/build-native/product}
cmake -S "$root/native" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKAL_SANITIZE= >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$build" -j2 --target "$@"
else
  cmake --build "$build" -j2 --target kal_drv kal_helper espeakengine kalsay
fi
