#!/usr/bin/env bash
# The include-direction check on small trees made here: it must name exactly
# the upward includes, count the cross-folder ones, and pass a clean tree.
#   usage: check_includes_test.sh CHECK_SCRIPT
check=$1
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

tree=mixed
put driver/a.cpp '#include "kal_drv.h"' '#include <windows.h>' '#include "voices/voices.h"' \
  '#include "platform/platform.h"' '#include "driver/driver.h"'
put voices/v.h '#pragma once' '#include "engine/engine.h"'
put speech/s.cpp '// #include "driver/driver.h" only mentioned' '#  include "voices/voices.h"' \
  '#include "speech.h"'
put engine/b.cpp '#include "engine/engine.h"' '#include "config/config.h"' '#include "speech/speech.h"' \
  '#include "../voices/voices.h"'
put config/c.h '#include "include/kal_drv.h"' '#include "driver/driver.h"'
put platform/p.cpp '#include <windows.h>' '#include "config/config.h"'
put platform/p.rc '#include "driver/version.h"'
# Not checked: tests, the simulated engine, kalsay.
put tests/t.cpp '#include "driver/driver.h"'
put simengine/e.cpp '#include "speech/speech.h"'
put kalsay/k.cpp '#include "driver/driver.h"'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with upward includes"
upward=$(grep -c ' is above ' <<<"$output")
[ "$upward" -eq 6 ] || fail "$tree: $upward upward includes reported, not 6:"$'\n'"$output"
expect_line 'speech/s.cpp:2: includes voices/voices.h (voices is above speech)'
expect_line 'engine/b.cpp:3: includes speech/speech.h (speech is above engine)'
expect_line 'engine/b.cpp:4: includes voices/voices.h (voices is above engine)'
expect_line 'config/c.h:2: includes driver/driver.h (driver is above config)'
expect_line 'platform/p.cpp:2: includes config/config.h (config is above platform)'
expect_line 'platform/p.rc:1: includes driver/version.h (driver is above platform)'
expect_line 'upward includes: 6'
# Rows include columns; a folder's own headers are not counted.
expect_line '             driver   bridge   voices   speech   engine   config platform'
expect_line 'driver            .        0        1        0        0        0        1'
expect_line 'voices            0        0        .        0        1        0        0'
expect_line 'engine            0        0        1        1        .        1        0'
expect_line 'platform          1        0        0        0        0        1        .'

tree=clean
put driver/a.cpp '#include "voices/voices.h"' '#include "platform/platform.h"'
put voices/v.cpp '#include "speech/speech.h"' '#include "config/config.h"'
put speech/s.cpp '#include "engine/engine.h"'
put engine/e.cpp '#include "config/config.h"' '#include "platform/platform.h"'
put config/c.cpp '#include "platform/platform.h"' '#include "kal_drv.h"'
put platform/p.cpp '#include <windows.h>'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'upward includes: 0'
expect_line 'engine            0        0        0        0        .        1        1'

finish
