#!/usr/bin/env bash
# Packs of one commit are the same bytes:
#   reproducible_test.sh [BUILD [BUILD64]]
# after scripts/package.sh made the zip and the Debian package, packs again: it
# must rebuild nothing and give the same checksums; then removes shipped
# binaries of the 32-bit, the 64-bit and the native tree, so that they are
# linked again, and packs once more: the same checksums again.
# Prints a line per failed check and "reproducible: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
build64=${2:-$root/build64}
native=${NATIVE_PRODUCT_DIR:-$root/build-native/release}
version=$(sed -n 's/^project(kal_drv VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip=$build/release/kal_drv-$version.zip
deb=$native/deb/kal-drv_${version}_$(dpkg --print-architecture).deb

passed=0 failed=0
check() {  # check NAME COMMAND...: runs the command quietly; its failure is the check's
  local name=$1; shift
  local output
  if output=$("$@" 2>&1); then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/  /' <<<"$output" | tail -20; fi
}
sums() { sha256sum "$zip" "$deb"; }
pack() { BUILD_DIR=$build BUILD64_DIR=$build64 NATIVE_PRODUCT_DIR=$native bash "$root/scripts/package.sh" 2>&1; }
[ -f "$zip" ] && [ -f "$deb" ] || { echo "FAIL no $zip or $deb: run scripts/package.sh"; exit 1; }
first=$(sums)

again_ok() {
  local output
  output=$(pack) || { echo "$output"; return 1; }
  # Nothing linked or copied again, and no advice to build anything.
  if grep -E "Linking|Copying|build it there first" <<<"$output"; then return 1; fi
  diff <(echo "$first") <(sums)
}
check "packing again rebuilds nothing and gives the same bytes" again_ok

relinked_ok() {
  rm -f "$build/driver/kal_drv.dll" "$build/kalsay/kalsay.exe" "$build/simengine/nalvoapi.dll" \
        "$build64/bridge/kal_drv64.dll" "$native/product/libkal_drv.so.$version" "$native/product/kalsay"
  local output
  output=$(pack) || { echo "$output"; return 1; }
  grep -q "Linking CXX shared library driver/kal_drv.dll" <<<"$output" || { echo "kal_drv.dll was not linked again"; return 1; }
  diff <(echo "$first") <(sums)
}
check "binaries linked again give the same bytes" relinked_ok

echo "reproducible: $passed passed, $failed failed"
[ "$failed" = 0 ]
