#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine: the 32-bit
# tree under a win32 prefix, then the 64-bit bridge's tests under a win64 prefix;
# then the release package (scripts/package.sh) as an integrator gets it
# (tests/package/package_test.sh, in the win64 prefix); then the native
# sanitizer, thread-checker, load and fuzz runs
# (scripts/sanitize.sh; SANITIZE=0 skips them); then speech-dispatcher's output
# module on the native product (scripts/test-sdmodule.sh; SDMODULE=0 skips it).
# Every part runs; any failure fails.
source "$(dirname "$0")/lib.sh"
kal_setup
kal_build
# Each prefix in a subshell of its own: its server stops when the subshell ends.
status=0
(
  source "$root/scripts/wine-prefix.sh" "$build/wineprefix"
  cd "$build"
  ctest --output-on-failure --timeout 600 "$@"
) || status=$?
kal_build64
(
  source "$root/scripts/wine-prefix.sh" "$build64/wineprefix" win64
  cd "$build64"
  ctest --output-on-failure --timeout 600 "$@"
) || status=$?
# The package test starts the win64 prefix itself, in its own subshell.
(
  BUILD_DIR=$build BUILD64_DIR=$build64 bash "$root/scripts/package.sh"
  bash "$root/tests/package/package_test.sh" "$build" "$build64"
) || status=$?
if [ "${SANITIZE:-1}" != 0 ]; then
  bash "$root/scripts/sanitize.sh" || status=1
fi
if [ "${SDMODULE:-1}" != 0 ]; then
  bash "$root/scripts/test-sdmodule.sh" || status=1
fi
exit $status
