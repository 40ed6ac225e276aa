#!/usr/bin/env bash
# Packs of one commit are the same bytes:
#   reproducible_test.sh [BUILD [BUILD64]]
# packs the zip and the Debian package (scripts/package.sh), then again after
# touching the shipped sources (as a later checkout has them): that must
# rebuild nothing and give the same checksums; then removes shipped
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
# The first pack of this commit: it may build what changed.
pack >/dev/null || { echo "FAIL scripts/package.sh"; exit 1; }
first=$(sums)

again_ok() {
  local output
  # As a later checkout of the same commit has them: the shipped sources with new times.
  touch "$root/LICENSE" "$root/CHANGELOG.md" "$root/kal.ini.sample" "$root"/docs/*.md "$root"/cmake/*README.txt
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

# What makes a pack on another machine the same: every entry's time is the
# commit's, and the names are sorted (not in the order a folder lists them).
entries_ok() {
  local epoch stamp names
  epoch=$(git -C "$root" log -1 --format=%ct)
  # DOS times are even seconds: zip rounds an odd one up.
  stamp=$(TZ=UTC date -d "@$((epoch + epoch % 2))" +%Y%m%d.%H%M%S)
  names=$(zipinfo -1 "$zip")
  diff <(echo "$names") <(LC_ALL=C sort <<<"$names") || { echo "the names are not sorted"; return 1; }
  if TZ=UTC zipinfo -T "$zip" | grep '^[-d]' | grep -v " $stamp "; then echo "entries not of the commit's time $stamp"; return 1; fi
  if dpkg-deb -c "$deb" | grep -v " $(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M') "; then echo "deb entries not of the commit's time"; return 1; fi
}
check "every entry has the commit's time, in sorted order" entries_ok

# The driver's build stamp (kal_Info) is the commit's time, in both packages:
# a tree built before the last commit, or elsewhere, gives the same bytes.
stamps_ok() {
  local epoch stamp work status=0
  epoch=$(git -C "$root" log -1 --format=%ct)
  stamp="Date: $(TZ=UTC date -d "@$epoch" '+%b %d %Y Time: %H:%M:%S')"
  work=$(mktemp -d)
  unzip -q -o "$zip" '*/bin/x86/kal_drv.dll' -d "$work" && dpkg-deb -x "$deb" "$work/deb" || status=1
  for file in "$work"/*/bin/x86/kal_drv.dll "$work"/deb/usr/lib/*/kal_drv/libkal_drv.so.*.*.*; do
    LC_ALL=C grep -aq "$stamp" "$file" || { echo "${file#$work/}: no '$stamp'"; strings "$file" | grep "Date:"; status=1; }
  done
  rm -rf "$work"
  return $status
}
check "the driver's build stamp is the commit's time" stamps_ok

echo "reproducible: $passed passed, $failed failed"
[ "$failed" = 0 ]
