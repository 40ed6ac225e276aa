#!/usr/bin/env bash
# The release package as an integrator gets it:
#   package_test.sh BUILD BUILD64
# takes BUILD/release/kal_drv-<version>.zip and its SHA256SUMS (scripts/package.sh),
# checks the checksum and that the zip holds exactly the release's files, that
# every binary is of its folder's architecture, imports only system DLLs and
# carries the project version in its version resource, that each import library
# imports the .def's names for its architecture; then unpacks it into a
# fresh folder outside the source tree and builds host/ against it alone with
# find_package, once with the 32-bit and once with the 64-bit mingw compiler,
# and runs each under Wine (BUILD64's win64 prefix) beside the simulated engine
# of BUILD: it must list the voices and see its text begin and end.
# Prints a line per failed check and "package: N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
build64=${2:-$root/build64}
# The one version: the top-level project() line.
version=$(sed -n 's/^project(kal_drv VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
version4=$version
while [ "$(tr -cd . <<<"$version4" | wc -c)" -lt 3 ]; do version4=$version4.0; done
zip=$build/release/kal_drv-$version.zip
# Seconds a host may take to list, speak and end under Wine.
HOST_TIMEOUT=120

passed=0 failed=0
check() {  # check NAME COMMAND...: runs the command quietly; its failure is the check's
  local name=$1; shift
  local output
  if output=$("$@" 2>&1); then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/  /' <<<"$output" | tail -20; fi
}

work=$(mktemp -d /tmp/kal_pkg.XXXXXX)
source "$root/scripts/wine-prefix.sh" "$build64/wineprefix" win64
trap 'stop_wine; rm -rf "$work"' EXIT

check "checksum" bash -c "cd '$build/release' && grep -q ' kal_drv-$version.zip\$' SHA256SUMS && sha256sum -c SHA256SUMS"

# Exactly these files, under kal_drv-<version>/.
manifest() {
  sort <<EOF2
CHANGELOG.md
LICENSE
licenses/CLI11.txt
licenses/mingw-w64.txt
kal.ini.sample
docs/integration.md
docs/architecture.md
docs/performance.md
include/kal_drv.h
bin/x86/kal_drv.dll
bin/x86/kal_host32.exe
bin/x86/kalsay.exe
bin/x64/kal_drv64.dll
bin/x64/kalsay.exe
bin/x64/README.txt
lib/x86/libkal_drv.dll.a
lib/x86/kal_drv.lib
lib/x86/kal_drv.def
lib/x64/libkal_drv64.dll.a
lib/x64/kal_drv64.lib
lib/x64/kal_drv64.def
lib/cmake/kal_drv/kal_drv-config.cmake
lib/cmake/kal_drv/kal_drv-config-version.cmake
EOF2
}
# The tools are the build's: cmake reads the zip, the cross binutils the binaries.
zip_files() { cmake -E tar tf "$zip" | grep -v '/$' | sed "s|^kal_drv-$version/||" | sort; }
check "manifest" diff <(manifest) <(zip_files)
check "every entry under kal_drv-$version/" bash -c "! cmake -E tar tf '$zip' | grep -v '^kal_drv-$version/'"

(cd "$work" && cmake -E tar xf "$zip") || { echo "FAIL unpacking $zip"; exit 1; }
pkg=$work/kal_drv-$version
# The shipped files are the sources' own.
for file in include/kal_drv.h lib/x86/kal_drv.def kal.ini.sample LICENSE CHANGELOG.md; do
  source_file=$root/$file
  [ "$file" = lib/x86/kal_drv.def ] && source_file=$root/driver/kal_drv.def
  check "$file is the source's" cmp "$pkg/$file" "$source_file"
done
check "lib/x64/kal_drv64.def is the source's" cmp "$pkg/lib/x64/kal_drv64.def" "$root/bridge/kal_drv64.def"

# The system folders of the prefix: 32-bit DLLs in syswow64, 64-bit in system32.
syswow64=$(ls "$WINEPREFIX/drive_c/windows/syswow64")
system32=$(ls "$WINEPREFIX/drive_c/windows/system32")
system_dll() {  # system_dll FOLDER NAME
  grep -qixF "$2" <<<"${!1}"
}
binary_ok() {  # binary_ok FILE FORMAT SYSTEM_FOLDER
  local file=$1 format=$2 folder=$3 dump name version_fixed
  dump=$(x86_64-w64-mingw32-objdump -p "$file") || return 1
  grep -q "file format $format\$" <<<"$dump" || { echo "$file is not $format"; return 1; }
  local imports
  imports=$(sed -n 's/^\tDLL Name: //p' <<<"$dump")
  [ -n "$imports" ] || { echo "$file imports nothing readable"; return 1; }
  for name in $imports; do
    case ${name,,} in lib*) echo "$file imports $name"; return 1 ;; esac
    system_dll "$folder" "$name" || { echo "$file imports $name, not a system DLL"; return 1; }
  done
  # The fixed part: FILEVERSION and PRODUCTVERSION after the 0xFEEF04BD signature.
  version_fixed=$(perl -0777 -ne 'if (/\xBD\x04\xEF\xFE.{4}(.{16})/s) { my @v = unpack("V4", $1);
      printf "%d.%d.%d.%d %d.%d.%d.%d\n", $v[0] >> 16, $v[0] & 0xFFFF, $v[1] >> 16, $v[1] & 0xFFFF,
                                          $v[2] >> 16, $v[2] & 0xFFFF, $v[3] >> 16, $v[3] & 0xFFFF }' "$file")
  [ "$version_fixed" = "$version4 $version4" ] || { echo "$file: fixed version '$version_fixed', not $version4"; return 1; }
  # The strings: the value follows its key.
  local strings key value
  strings=$(x86_64-w64-mingw32-strings -el "$file")
  for key in FileVersion ProductVersion OriginalFilename ProductName; do
    value=$(grep -A1 -xF "$key" <<<"$strings" | sed -n 2p)
    case $key in
      OriginalFilename) want=$(basename "$file") ;;
      ProductName) want=kal_drv ;;
      *) want=$version4 ;;
    esac
    [ "$value" = "$want" ] || { echo "$file: $key '$value', not '$want'"; return 1; }
  done
}
for file in "$pkg"/bin/x86/*.dll "$pkg"/bin/x86/*.exe; do
  check "bin/x86/$(basename "$file")" binary_ok "$file" pei-i386 syswow64
done
for file in "$pkg"/bin/x64/*.dll "$pkg"/bin/x64/*.exe; do
  check "bin/x64/$(basename "$file")" binary_ok "$file" pei-x86-64 system32
done

# Each import library: every member of its folder's architecture, an import of
# each name of the .def beside it (32-bit symbols carry the leading underscore),
# and no member named after the build machine's folders.
implib_ok() {  # implib_ok LIB FORMAT SYMBOL_PREFIX DEF
  local lib=$1 format=$2 prefix=$3 def=$4 formats symbols name names members
  formats=$(x86_64-w64-mingw32-objdump -f "$lib" | sed -n 's/.*file format //p' | sort -u) || return 1
  [ "$formats" = "$format" ] || { echo "$lib members: $formats"; return 1; }
  members=$(x86_64-w64-mingw32-ar t "$lib") || return 1
  if grep -m1 -E "work|build|tmp" <<<"$members"; then echo "$lib has members named after folders"; return 1; fi
  symbols=$(x86_64-w64-mingw32-nm "$lib" | sed -n 's/.* I //p' | sort) || return 1
  names=$(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | tr -d ' \t\r' | grep -v '^$')
  [ "$(wc -l <<<"$names")" = 20 ] || { echo "$def does not list twenty exports"; return 1; }
  for name in $names; do
    grep -qxF "__imp_$prefix$name" <<<"$symbols" || { echo "$lib lacks __imp_$prefix$name"; return 1; }
  done
}
for lib in kal_drv.lib libkal_drv.dll.a; do
  check "lib/x86/$lib" implib_ok "$pkg/lib/x86/$lib" pe-i386 _ "$pkg/lib/x86/kal_drv.def"
done
for lib in kal_drv64.lib libkal_drv64.dll.a; do
  check "lib/x64/$lib" implib_ok "$pkg/lib/x64/$lib" pe-x86-64 "" "$pkg/lib/x64/kal_drv64.def"
done

# The host, from a copy of its sources outside the source tree, against the package alone.
cp -r "$here/host" "$work/host-src"
host_run() {  # host_run ARCH TRIPLE FORMAT RUNTIME_FILES...
  local arch=$1 triple=$2 format=$3; shift 3
  local out=$work/host-$arch
  cmake -S "$work/host-src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER="$triple-gcc-posix" -DCMAKE_PREFIX_PATH="$pkg" || return 1
  cmake --build "$out" || return 1
  local dump
  dump=$(x86_64-w64-mingw32-objdump -p "$out/package_host.exe") || return 1
  grep -q "file format $format\$" <<<"$dump" || { echo "host is not $format"; return 1; }
  # What find_package said goes beside the host, and only that.
  local beside
  beside=$(cd "$out" && ls *.dll *.exe | sort | tr '\n' ' ')
  [ "$beside" = "$* " ] || { echo "beside the host: '$beside', expected '$* '"; return 1; }
  cp "$build/simengine/nalvoapi.dll" "$build/simengine/simengine.ini" "$out/"
  local output
  output=$(cd "$out" && timeout "$HOST_TIMEOUT" wine package_host.exe </dev/null | tr -d '\r')
  local code=$?
  echo "$output"
  [ $code = 0 ] || { echo "exit code $code"; return 1; }
  local bits=32
  [ "$arch" = x64 ] && bits=64
  # The simulated engine's twenty voices (simengine.ini), identified by language code and name.
  for line in "pointer=$bits rate=11000" "voices=20" "voice [0-9]{4}-Nalvo Deutsch Anna Nalvo Deutsch Anna" \
              "voice [0-9]{4}-Nalvo Chorus Voice12 Nalvo Chorus Voice12" \
              "begins=1 ends=1 begin_mark=5 end_mark=5"; do
    grep -qxE "$line" <<<"$output" || { echo "missing: $line"; return 1; }
  done
}
# The package's version file: exactly the project version, and no other major one.
version_file_ok() {
  local major=${version%%.*} wanted
  for wanted in "$version;EXACT" "$((major + 1)).0"; do
    rm -rf "$work/host-version"
    cmake -S "$work/host-src" -B "$work/host-version" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
      -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_PREFIX_PATH="$pkg" "-DKAL_DRV_WANTED=$wanted" >/dev/null 2>&1
    local code=$?
    if [ "$wanted" = "$version;EXACT" ] && [ $code != 0 ]; then echo "find_package(kal_drv $version EXACT) failed"; return 1; fi
    if [ "$wanted" != "$version;EXACT" ] && [ $code = 0 ]; then echo "find_package(kal_drv $wanted) took $version"; return 1; fi
  done
  return 0
}
check "find_package takes $version exactly and no other major version" version_file_ok
check "32-bit host built with find_package" host_run x86 i686-w64-mingw32 pei-i386 kal_drv.dll kal_host32.exe package_host.exe
check "64-bit host built with find_package" host_run x64 x86_64-w64-mingw32 pei-x86-64 kal_drv.dll kal_drv64.dll kal_host32.exe package_host.exe

echo "package: $passed passed, $failed failed"
[ "$failed" = 0 ]
