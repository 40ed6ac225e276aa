#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
BUILD_DIR=$build bash "$root/scripts/build.sh"
source "$root/scripts/wine-prefix.sh" "$build/wineprefix"
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
