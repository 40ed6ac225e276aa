#!/usr/bin/env bash
# Builds and runs the driver's benchmark under the build tree's private Wine prefix.
# Arguments go to kal_bench: [--driver DLL] [--voices 20,200,800,8000] [--rounds N]
# [--startup-rounds N] [--part all|calls|startup]. A Unix path given to --driver is translated for Wine.
source "$(dirname "$0")/lib.sh"
kal_setup
kal_build kal_drv simengine kal_bench >/dev/null
source "$root/scripts/wine-prefix.sh" "$build/wineprefix"
args=()
while [ $# -gt 0 ]; do
  if [ "$1" = --driver ] && [ $# -gt 1 ]; then
    args+=(--driver "$(winepath -w "$2")"); shift 2
  else
    args+=("$1"); shift
  fi
done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(wine --version)"
"$root/scripts/wine-run" "$WINEPREFIX" "$build/bench/kal_bench.exe" "${args[@]}" | tr -d '\r'
if [ -f "$root/scripts/bench-bridge.sh" ]; then
  bash "$root/scripts/bench-bridge.sh"
fi
