#!/usr/bin/env bash
# sd_kal's tests on the native product build: its parts, INIT failures, and
# the module under Debian's speech-dispatcher with a private PulseAudio null
# sink (sound, marks, characters and keys, stop, pause and resume, rate,
# voices). About 50 s.
#   usage: test-sdmodule.sh [GTEST_FILTER]   (NATIVE_PRODUCT_DIR: another build tree)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NATIVE_PRODUCT_DIR:-$root/build-native/release}
bash "$root/scripts/setup.sh"
NATIVE_PRODUCT_DIR=$build bash "$root/scripts/build-native.sh" sd_kal sd_kal_tests >/dev/null
cd "$build/tests"
timeout 600 ./sd_kal_tests --gtest_filter="${1:-*}"
