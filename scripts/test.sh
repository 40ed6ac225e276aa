#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine: the 32-bit
# tree under a win32 prefix, then the 64-bit bridge's tests under a win64 prefix;
# then the release package (scripts/package.sh) as an integrator gets it
# (tests/package/package_test.sh, in the win64 prefix), that two packs are the
# same bytes (reproducible_test.sh), and the native Debian package installed
# here, built against and removed (deb_test.sh); then the native
# sanitizer, thread-checker, load and fuzz runs
# (scripts/sanitize.sh; SANITIZE=0 skips them); then speech-dispatcher's output
# module on the native product (scripts/test-sdmodule.sh; SDMODULE=0 skips it).
# Every part runs; any failure fails.
source "$(dirname "$0")/lib.sh"
kal_setup
echo "test: building the 32-bit tree"
kal_build
# Each prefix in a subshell of its own: its server stops when the subshell ends.
status=0
(
  source "$root/scripts/wine-prefix.sh" "$build/wineprefix"
  cd "$build"
  echo "test: the 32-bit tree's tests under Wine (about 4 min)"
  kal_ctest "$@"
) || status=$?
echo "test: building the 64-bit tree"
kal_build64
(
  source "$root/scripts/wine-prefix.sh" "$build64/wineprefix" win64
  cd "$build64"
  echo "test: the 64-bit bridge's tests under Wine (about 1 min)"
  kal_ctest "$@"
) || status=$?
# The package test starts the win64 prefix itself, in its own subshell.
echo "test: the packages: the zip and the native Debian package, then their tests"
if BUILD_DIR=$build BUILD64_DIR=$build64 bash "$root/scripts/package.sh"; then
  bash "$root/tests/package/package_test.sh" "$build" "$build64" || status=1
  bash "$root/tests/package/reproducible_test.sh" "$build" "$build64" || status=1
  # Installs the native package on this machine (as root, or with sudo) and removes it.
  bash "$root/tests/package/deb_test.sh" || status=1
else
  status=1
fi
if [ "${SANITIZE:-1}" != 0 ]; then
  bash "$root/scripts/sanitize.sh" || status=1
fi
if [ "${SDMODULE:-1}" != 0 ]; then
  bash "$root/scripts/test-sdmodule.sh" || status=1
fi
exit $status
