# Sourced by the scripts that build and run the driver (test.sh, demo.sh,
# bench.sh, bench-bridge.sh): strict mode, the source tree and both build
# trees, and the host folder they assemble.
#   root     the source tree
#   build    the 32-bit tree (BUILD_DIR, default build/)
#   build64  the 64-bit tree (BUILD64_DIR, default build64/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
build64=${BUILD64_DIR:-$root/build64}

# Installs what is missing (a no-op when everything is there).
kal_setup() { bash "$root/scripts/setup.sh"; }
# Builds the named targets of the 32-bit tree (every target without a name).
kal_build() { BUILD_DIR=$build bash "$root/scripts/build.sh" "$@"; }
# The same for the 64-bit tree, which builds what it takes from the 32-bit one first.
kal_build64() { BUILD_DIR=$build BUILD64_DIR=$build64 bash "$root/scripts/build64.sh" "$@"; }

# A host's program folder, made anew: kal_drv.dll and the simulated engine
# (nalvoapi.dll) beside it; with "64" also the bridge kal_drv64.dll and its
# 32-bit helper kal_host32.exe. The host program, kal.ini and simengine.ini
# are the caller's to add.
#   kal_host_folder DIR [32|64]
kal_host_folder() {
  local folder=$1 bits=${2:-32}
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$build/driver/kal_drv.dll" "$build/simengine/nalvoapi.dll" "$folder/"
  if [ "$bits" = 64 ]; then
    cp "$build/host32/kal_host32.exe" "$build64/bridge/kal_drv64.dll" "$folder/"
  fi
}

source "$root/scripts/progress.sh"
# ctest in the current build tree, with ctest's line per test and, during a long
# test, a line every 20 s naming it.
kal_ctest() {
  local log
  log=$(mktemp)
  local status=0
  KAL_PROGRESS_DETAIL="kal_ctest_running $log" kal_progress "ctest" \
    bash -c 'ctest --output-on-failure --timeout 600 "${@:2}" | tee "$1"; exit "${PIPESTATUS[0]}"' _ "$log" "$@" || status=$?
  rm -f "$log"
  return $status
}
# The tests ctest runs now: those it started and has not yet reported.
kal_ctest_running() {
  awk '/^ *Start +[0-9]+: / { running[$2] = $3 } / Test +#[0-9]+: / { n = $0; sub(/.*#/, "", n); sub(/:.*/, "", n); delete running[n ":"] }
       END { for (k in running) printf "%s ", running[k] }' "$1" | sed 's/ $//'
}
