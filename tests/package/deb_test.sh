#!/usr/bin/env bash
# The native package as a Linux integrator gets it:
#   deb_test.sh [DEB [PRODUCT_DIR]]
# (default: build-native/release/deb/kal-drv_<version>_<arch>.deb, made by
# scripts/package-deb.sh from build-native/release/product). Checks that the
# package holds every file of the product folder and the files a host builds
# with, and that packing the product again gives the same bytes; installs it
# here with apt-get (as root, or with sudo); builds native-host/ against the
# installed files alone, outside the source tree, once with pkg-config and once
# with CMake's find_package, and runs each: it must list the voices and see its
# text begin and end, as root and as an unprivileged user, and no run may
# change the configuration in /etc. Then removes the package: nothing of it may
# be left but its configuration files, and after a purge nothing at all.
# An installed kal-drv is replaced, and removed at the end.
# Prints a line per failed check and "deb: N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
version=$(sed -n 's/^project(kal_drv VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
deb=${1:-$root/build-native/release/deb/kal-drv_${version}_$arch.deb}
product=${2:-$root/build-native/release/product}
private=/usr/lib/$triplet/kal_drv
# Seconds a host may take to list, speak and end.
HOST_TIMEOUT=60
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

passed=0 failed=0
check() {  # check NAME COMMAND...: runs the command quietly; its failure is the check's
  local name=$1; shift
  local output
  if output=$("$@" 2>&1); then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/  /' <<<"$output" | tail -20; fi
}
[ -f "$deb" ] || { echo "FAIL no $deb: run scripts/package.sh"; exit 1; }
work=$(mktemp -d /tmp/kal_deb.XXXXXX)
# The unprivileged user runs the host from here and writes its speech into out/.
chmod 755 "$work"
mkdir -m 1777 "$work/out"
cleanup() {
  $SUDO apt-get purge -y -qq kal-drv >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# The package's files, without the leading "." of dpkg-deb's list.
listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\.||')
contents_ok() {
  local file missing=0
  for file in /usr/include/kal_drv.h "/usr/lib/$triplet/libkal_drv.so.${version%%.*}" "/usr/lib/$triplet/libkal_drv.so" \
              "/usr/lib/$triplet/pkgconfig/kal_drv.pc" "/usr/lib/$triplet/cmake/kal_drv/kal_drv-config.cmake" \
              "/usr/lib/$triplet/cmake/kal_drv/kal_drv-config-version.cmake" /usr/bin/kalsay \
              /etc/kal_drv/kal.ini /etc/kal_drv/espeakengine.ini /usr/share/doc/kal-drv/README.md \
              /usr/share/doc/kal-drv/copyright /usr/share/doc/kal-drv/licenses/GPL-3.0.txt \
              /usr/share/doc/kal-drv/kal.ini.sample; do
    grep -qxF "$file" <<<"$listing" || { echo "missing $file"; missing=1; }
  done
  # Every file of the product folder, whatever it is called, but what runs leave there.
  for file in "$product"/*; do
    case ${file##*/} in kal.pro | kal64.pro | *.wav) continue ;; esac
    grep -qxF "$private/${file##*/}" <<<"$listing" || { echo "missing $private/${file##*/} of the product folder"; missing=1; }
  done
  [ $missing = 0 ]
}
check "the package holds the product folder and what a host builds with" contents_ok
depends_ok() {
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  grep -q 'libespeak-ng1' <<<"$depends" && grep -q 'libpulse0' <<<"$depends" && grep -q 'espeak-ng-data' <<<"$depends"
}
check "it depends on Debian's eSpeak NG and PulseAudio packages" depends_ok
check "kal.ini, espeakengine.ini and speech-dispatcher's kal.conf are its configuration files" \
  diff <(printf '/etc/kal_drv/kal.ini\n/etc/kal_drv/espeakengine.ini\n/etc/speech-dispatcher/modules/kal.conf\n') \
       <(dpkg-deb --ctrl-tarfile "$deb" | tar xO ./conffiles)
check "packing the product again gives the same bytes" \
  bash -c "bash '$root/scripts/package-deb.sh' '$product' '$work/again' >/dev/null && cmp '$deb' '$work/again/${deb##*/}'"

# Installed with its dependencies, as apt installs a downloaded package.
$SUDO apt-get purge -y -qq kal-drv >/dev/null 2>&1
install_ok() { $SUDO apt-get install -y -qq --no-install-recommends "$deb"; }
check "apt-get install ./$(basename "$deb")" install_ok
# What dpkg says the package installed, for the removal's check.
installed=$(dpkg -L kal-drv 2>/dev/null)
conffiles=$(dpkg-query -W -f='${Conffiles}\n' kal-drv 2>/dev/null | awk 'NF { print $1 }')
conffile_sums=$(dpkg-query -W -f='${Conffiles}\n' kal-drv 2>/dev/null | awk 'NF { print $2 "  " $1 }')

# The host, from a copy of its sources outside the source tree, against the installed files alone.
cp -r "$here/native-host" "$work/host-src"
host_ok() {  # host_ok BINARY [USER]: runs it (as USER) into a WAV file of its own; checks what it printed
  local binary=$1 user=${2:-} output code wav=$work/out/${1##*/}${2:+-$2}.wav
  local command="KAL_ESPEAK_OUTPUT=wav KAL_ESPEAK_WAV=$wav timeout $HOST_TIMEOUT $binary"
  if [ -n "$user" ]; then
    output=$(cd / && $SUDO su "$user" -s /bin/sh -c "$command" 2>&1)
  else
    output=$(cd / && sh -c "$command" 2>&1)
  fi
  code=$?
  echo "$output"
  [ $code = 0 ] || { echo "exit code $code"; return 1; }
  for line in "rate=[0-9]+" "voices=24" "voice 0049-Deutsch Deutsch" "voice 0001-English US f2 English US f2" \
              "current=0044-English" "begins=1 ends=1 begin_mark=5 end_mark=5"; do
    grep -qxE "$line" <<<"$output" || { echo "missing: $line"; return 1; }
  done
  # Speech, not just a header: more than a tenth of a second at 22050 Hz, 16 bits.
  [ "$(stat -c %s "$wav" 2>/dev/null || echo 0)" -gt 4454 ] || { echo "no speech in $wav"; return 1; }
}
pkgconfig_build() {
  local flags
  flags=$(pkg-config --cflags --libs kal_drv) || return 1
  echo "pkg-config: $flags"
  [ "$(pkg-config --modversion kal_drv)" = "$version" ] || { echo "pkg-config version is not $version"; return 1; }
  cc -std=c99 -Wall -Wpedantic -Werror -o "$work/host-pkgconfig" "$work/host-src/host.c" $flags
}
cmake_build() {
  cmake -S "$work/host-src" -B "$work/host-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release &&
    cmake --build "$work/host-cmake"
}
# The configuration version file: this version, not another major one, not for 32-bit.
cmake_version_ok() {
  local major=${version%%.*}
  rm -rf "$work/host-version"
  cmake -S "$work/host-src" -B "$work/host-version" -G Ninja "-DKAL_DRV_WANTED=$version;EXACT" >/dev/null ||
    { echo "find_package(kal_drv $version EXACT) failed"; return 1; }
  rm -rf "$work/host-version"
  if cmake -S "$work/host-src" -B "$work/host-version" -G Ninja "-DKAL_DRV_WANTED=$((major + 1)).0" >/dev/null 2>&1; then
    echo "find_package(kal_drv $((major + 1)).0) took $version"; return 1
  fi
  return 0
}
check "a host built with pkg-config" pkgconfig_build
check "the pkg-config host runs" host_ok "$work/host-pkgconfig"
check "a host built with find_package" cmake_build
check "the CMake host runs" host_ok "$work/host-cmake/native_package_host"
check "the CMake host runs as an unprivileged user" host_ok "$work/host-cmake/native_package_host" nobody
check "find_package takes $version exactly and no other major version" cmake_version_ok
kalsay_ok() {
  local output
  output=$(cd / && KAL_ESPEAK_OUTPUT=none kalsay --list 2>&1) || { echo "$output"; return 1; }
  grep -q "loaded from $private/" <<<"$output" && grep -q "English US klatt" <<<"$output" || { echo "$output"; return 1; }
}
check "kalsay in the path lists the voices from the private folder" kalsay_ok
# speech-dispatcher loads every sd_* of its module folder with modules/<name>.conf.
sdmodule_ok() {
  [ -x /usr/lib/speech-dispatcher-modules/sd_kal ] || { echo "no sd_kal where speech-dispatcher looks"; return 1; }
  [ "$(readlink -f /usr/lib/speech-dispatcher-modules/sd_kal)" = "$private/sd_kal" ] || return 1
  grep -qx "KalDriver \"$private/libkal_drv.so\"" /etc/speech-dispatcher/modules/kal.conf
}
check "sd_kal and its kal.conf are where speech-dispatcher finds them" sdmodule_ok
check "no run changed /etc/kal_drv" bash -c "cd / && md5sum -c --quiet <<<'$conffile_sums'"

# Removed: nothing left but the configuration files, which a purge removes too.
removed_ok() {
  local path left=0
  $SUDO apt-get remove -y -qq kal-drv >/dev/null || return 1
  while IFS= read -r path; do
    [ -n "$path" ] || continue
    if grep -qxF "$path" <<<"$conffiles"; then
      [ -e "$path" ] || { echo "the configuration file $path went with remove"; left=1; }
    elif [ -d "$path" ] && [ ! -L "$path" ]; then
      # Folders of other packages stay; the package's own go.
      case $path in "$private" | /etc/kal_drv | /usr/share/doc/kal-drv* | "/usr/lib/$triplet/cmake/kal_drv")
        [ "$path" = /etc/kal_drv ] || { echo "left: $path/"; ls -A "$path"; left=1; } ;;
      esac
    elif [ -e "$path" ] || [ -L "$path" ]; then
      echo "left: $path"; left=1
    fi
  done <<<"$installed"
  [ ! -e "$private" ] || { echo "left: $private"; left=1; }
  [ $left = 0 ]
}
check "apt-get remove leaves only the configuration files" removed_ok
purged_ok() {
  $SUDO apt-get purge -y -qq kal-drv >/dev/null || return 1
  [ ! -e /etc/kal_drv ] || { echo "left: /etc/kal_drv"; ls -A /etc/kal_drv; return 1; }
  [ ! -e /etc/speech-dispatcher/modules/kal.conf ] || { echo "left: speech-dispatcher's kal.conf"; return 1; }
  ! dpkg -s kal-drv >/dev/null 2>&1 || { echo "dpkg still knows kal-drv"; return 1; }
  ! ldconfig -p | grep -q libkal_drv || { echo "ldconfig still knows libkal_drv"; return 1; }
}
check "apt-get purge leaves nothing" purged_ok

echo "deb: $passed passed, $failed failed"
[ "$failed" = 0 ]
