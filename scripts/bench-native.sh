#!/usr/bin/env bash
# The eSpeak NG engine's benchmark on the native product build: first audio
# (from the call to the first samples handed to the output) and real-time
# factor, through the driver and with eSpeak NG called directly in the same
# run; then the product in-process and in isolated mode side by side: idle
# call, queued kal_Synth, event latency, first audio, and an abort of eSpeak NG
# to the next text's first audio. Figures, not tests: nothing fails on a slow machine.
#   usage: bench-native.sh [ROUNDS]   (texts each way, default 40)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NATIVE_PRODUCT_DIR:-$root/build-native/release}
bash "$root/scripts/setup.sh"
NATIVE_PRODUCT_DIR=$build bash "$root/scripts/build-native.sh" kal_drv kal_helper espeakengine kal_espeak_bench \
  kal_isolation_bench kal_ipc_roundtrip >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), eSpeak NG $(dpkg-query -W -f='${Version}' libespeak-ng1 2>/dev/null || echo '?')"
cd "$build/tests"
./kal_espeak_bench "${1:-40}"
# Why futexes carry the channel's wake-ups natively.
./kal_ipc_roundtrip
# In-process against isolated (Isolation=0 and 1), side by side.
./kal_isolation_bench "${1:-40}"
