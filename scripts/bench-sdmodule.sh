#!/usr/bin/env bash
# sd_kal against speech-dispatcher's own eSpeak NG module (Debian's
# speech-dispatcher-espeak-ng), in one speech-dispatcher on one private
# PulseAudio null sink: speak request -> first audio at the sink, and cancel ->
# silence there, medians of interleaved rounds, side by side. A figure, not a
# test: nothing fails on a slow machine (only a round that did not speak).
#   usage: bench-sdmodule.sh [ROUNDS]   (rounds per module, default 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NATIVE_PRODUCT_DIR:-$root/build-native/release}
bash "$root/scripts/setup.sh"
NATIVE_PRODUCT_DIR=$build bash "$root/scripts/build-native.sh" sd_kal sd_kal_bench >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), speech-dispatcher $(dpkg-query -W -f='${Version}' speech-dispatcher 2>/dev/null || echo '?'), eSpeak NG $(dpkg-query -W -f='${Version}' libespeak-ng1 2>/dev/null || echo '?')"
cd "$build/tests"
./sd_kal_bench "${1:-10}"
