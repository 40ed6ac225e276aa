#!/usr/bin/env bash
# The check of the export files against KAL_EXPORTS (cmake/exports.cmake): the
# shipped files pass; a copy with a name missing, misspelt, added or out of
# order fails and names the file.
#   usage: export_files_test.sh ROOT
root=$1
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

# check FILE...: runs the check, sets status and output.
check() {
  local files
  files=$(IFS=';'; echo "$*")
  output=$(cmake -DROOT="$root" -DFILES="$files" -P "$root/cmake/exports.cmake" 2>&1)
  status=$?
}

check "$root/driver/kal_drv.def" "$root/bridge/kal_drv64.def" "$root/native/kal_drv.map"
((status == 0)) || fail "the shipped files: $output"

# case NAME SED-SCRIPT SOURCE: a copy of SOURCE changed by the script must fail.
case_fails() {
  local name=$1 script=$2 source=$3
  local copy=$work/$name.${source##*.}
  sed -e "$script" "$source" >"$copy"
  cmp -s "$copy" "$source" && { fail "$name: the edit changed nothing"; return; }
  check "$copy"
  ((status != 0)) || fail "$name: accepted"
  grep -qF "$copy" <<<"$output" || fail "$name: the message does not name the file: $output"
}

case_fails def-missing '/^    kal_Key$/d' "$root/driver/kal_drv.def"
case_fails def-misspelt 's/kal_Synth_Mark/kal_SynthMark/' "$root/driver/kal_drv.def"
case_fails def-added '$a\    kal_Speak' "$root/bridge/kal_drv64.def"
case_fails def-swapped '/kal_Stop$/{h;d};/kal_IsPlaying$/G' "$root/bridge/kal_drv64.def"
case_fails map-missing '/kal_Synchronize;/d' "$root/native/kal_drv.map"
case_fails map-added 's/kal_Info;/kal_Info;\n    kal_Version;/' "$root/native/kal_drv.map"

# A header whose list lost a row is refused before any file is compared.
mkdir -p "$work/root/include" "$work/root/cmake"
sed '/X(Char,/d' "$root/include/kal_exports.h" >"$work/root/include/kal_exports.h"
output=$(cmake -DROOT="$work/root" -DFILES="$root/driver/kal_drv.def" -P "$root/cmake/exports.cmake" 2>&1)
(($? != 0)) && grep -qF "19 rows" <<<"$output" || fail "a list of 19 rows: $output"

finish
