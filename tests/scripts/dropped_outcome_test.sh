#!/usr/bin/env bash
# A dropped Outcome does not build in the core: compiled with the core's own
# compiler and options, a call that ignores one fails, the same call cast to
# void builds. Fails when Outcome loses [[nodiscard]] or the core its
# -Werror=unused-result.
#   usage: dropped_outcome_test.sh ROOT COMPILER [CORE_OPTION...]
root=$1 compiler=$2
shift 2
options=("$@")
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

compile() {  # compile TREE: the tree's drop.cpp, as the core compiles its files
  "$compiler" -std=c++17 "$@" -I"$root" -fsyntax-only "$work/$tree/drop.cpp" 2>&1
}

tree=dropped
put drop.cpp '#include "config/outcome.h"' 'Outcome Step();' 'void Caller() { Step(); }'
output=$(compile "${options[@]}")
status=$?
[ "$status" -ne 0 ] || fail "$tree: a dropped Outcome built"
grep -q "unused-result" <<<"$output" || fail "$tree: failed for another reason:"$'\n'"$output"

tree=cast
put drop.cpp '#include "config/outcome.h"' 'Outcome Step();' 'void Caller() { (void)Step(); }'
output=$(compile "${options[@]}")
[ $? -eq 0 ] || fail "$tree: a cast Outcome did not build:"$'\n'"$output"

finish
