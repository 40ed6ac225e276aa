#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, only what is missing.
set -euo pipefail
need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# The x86-64 compiler and wine64 build and run the 64-bit bridge (a win64 prefix runs 32-bit programs too);
# clang and its runtimes the native sanitizer, thread-checker and fuzzer builds (sanitize.sh);
# eSpeak NG and libpulse the native engine (espeakengine/), a PulseAudio server and its
# recorder the test against it, sox the demo's measurements; Boost's headers the
# round-trip measurement that chose the native channel's wake-ups (bench-native.sh).
for p in g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev wine wine32:i386 googletest cmake ninja-build libcli11-dev \
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64 clang libclang-rt-14-dev \
         libespeak-ng-dev espeak-ng-data libpulse-dev pulseaudio pulseaudio-utils sox libboost-dev; do
  have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
