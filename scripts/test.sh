#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine, then the
# native sanitizer, thread-checker, load and fuzz runs (scripts/sanitize.sh;
# SANITIZE=0 skips them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
BUILD_DIR=$build bash "$root/scripts/build.sh"
source "$root/scripts/wine-prefix.sh" "$build/wineprefix"
cd "$build"
status=0
ctest --output-on-failure --timeout 900 "$@" || status=$?
if [ "${SANITIZE:-1}" != 0 ]; then
  bash "$root/scripts/sanitize.sh" || status=1
fi
exit $status
