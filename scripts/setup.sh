#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, only what is missing.
set -euo pipefail
need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# The x86-64 compiler and wine64 build and run the 64-bit bridge (a win64 prefix runs 32-bit programs too);
# clang and its runtimes the native sanitizer, thread-checker and fuzzer builds (sanitize.sh);
# eSpeak NG and libpulse the native engine (espeakengine/), a PulseAudio server and its
# recorder the test against it, sox the demo's measurements; zip the release zip
# (its same bytes from the same commit), dpkg-dev and pkgconf the native package and its test;
# speech-dispatcher and its own eSpeak NG module the output module's test (sdmodule/) and benchmark;
# Boost's headers the round-trip measurement that chose the native channel's wake-ups (bench-native.sh).
for p in g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev wine wine32:i386 googletest cmake ninja-build libcli11-dev \
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64 clang libclang-rt-14-dev \
         libespeak-ng-dev espeak-ng-data libpulse-dev pulseaudio pulseaudio-utils sox \
         zip dpkg-dev pkgconf speech-dispatcher speech-dispatcher-espeak-ng libboost-dev; do
  have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  echo "setup: apt-get update"
  $SUDO apt-get update -qq
  # A line per package as apt unpacks and sets it up: a few minutes on a fresh machine.
  $SUDO apt-get install -y -q --no-install-recommends "${need[@]}" | grep --line-buffered -E '^(Get|Unpacking|Setting up)' || true
  for p in "${need[@]}"; do have_pkg "$p" || { echo "setup: $p was not installed" >&2; exit 1; }; done
fi
