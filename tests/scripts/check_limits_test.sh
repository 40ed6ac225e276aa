#!/usr/bin/env bash
# The limits check on small trees made here: a figure that drifted from its
# row, a sum that no longer adds up, an unknown name, a row its document does
# not state, a bare figure in the public header; the same faults in the
# engine's and the module's own tables, figures whose names the line's end
# cuts off, and a name in two tables; and clean trees.
#   usage: check_limits_test.sh CHECK_SCRIPT
check=$1
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

table() {
  put config/limits.h '#define KAL_LIMITS(KAL_LIMIT) \' \
    '    KAL_LIMIT(kWaitMs, 2000, ms, "a wait", "docs/architecture.md include/kal_drv.h") \' \
    '    KAL_LIMIT(kPolls, 10, polls, "polls", "include/kal_drv.h") \' \
    '    KAL_LIMIT(kPollMs, 50, ms, "a poll", "") \' \
    '    KAL_LIMIT(kMemoryMB, 1024, MB, "memory", "")'
}

tree=planted
table
put docs/architecture.md '| a wait | 3 s (`kWaitMs`) |' '| gone | 1 s (`kGoneMs`) |'
put include/kal_drv.h ' * at most 2 s (kWaitMs), 0.4 s (kPolls × kPollMs) of polls,' \
  ' * in all 2.6 s (kWaitMs + kPolls × kPollMs); then 5 s more.'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with drifted figures"
expect_line 'docs/architecture.md:1: 3 s for kWaitMs, the table gives 2000 ms'
expect_line 'docs/architecture.md:2: kGoneMs is in no limits table'
expect_line 'include/kal_drv.h:1: 0.4 s for kPolls×kPollMs, the table gives 500 ms'
expect_line 'include/kal_drv.h:2: 2.6 s for kWaitMs+kPolls×kPollMs, the table gives 2500 ms'
expect_line 'include/kal_drv.h:2: a figure that names no limit: 5 s'
expect_line 'limit differences: 5'

tree=unstated
table
put docs/architecture.md 'No figures here.'
put include/kal_drv.h ' * 1 GB (kMemoryMB), 0.5 s (kPolls × kPollMs), 2 s (kWaitMs).'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with a row its document does not state"
expect_line 'docs/architecture.md: states no figure of kWaitMs (config/limits.h says it does)'
expect_line 'limit differences: 1'

# The engine's and the module's tables, read beside the core's.
others() {
  put espeakengine/limits.h '#define ESPEAK_LIMITS(KAL_LIMIT) \\' \
    '    KAL_LIMIT(kStallLimitMs, 5000, ms, "a stall", "README.md") \\' \
    '    KAL_LIMIT(kBlockMs, 20, ms, "a block", "README.md docs/architecture.md") \\' \
    '    KAL_LIMIT(kPauseCheckMs, 50, ms, "a pause check", "")'
  put sdmodule/limits.h '#define SDMODULE_LIMITS(KAL_LIMIT) \\' \
    '    KAL_LIMIT(kInboxWaitMs, 500, ms, "an inbox wait", "docs/architecture.md") \\' \
    "    KAL_LIMIT(kStalledChecks, 2, checks, \"idle checks\", \"docs/architecture.md\")"
}

tree=engine
table
others
put README.md 'A server that takes no sample for 4 s (`kStallLimitMs`) ends the text;' \
  'eSpeak NG hands over 20 ms (`kBlockMs`) blocks, and a paused text looks every 40 ms' \
  '(`kPauseCheckMs`) whether it was stopped, at most 0.5 s (kStallLimitMs' \
  '  × kBlockMs) in all.'
put docs/architecture.md '| a wait | 2 s (`kWaitMs`) | a block | 20 ms (`kBlockMs`) |' \
  '| idle checks | 3 (`kStalledChecks`) |'
put include/kal_drv.h ' * 0.5 s (kPolls × kPollMs), 2 s (kWaitMs).'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with a drifted engine figure"
expect_line 'README.md:1: 4 s for kStallLimitMs, the table gives 5000 ms'
expect_line 'README.md:2: 40 ms for kPauseCheckMs, the table gives 50 ms'
expect_line 'README.md:3: 0.5 s for kStallLimitMs×kBlockMs, the table gives 100000 ms'
expect_line 'docs/architecture.md:2: 3 for kStalledChecks, the table gives 2 checks'
expect_line 'docs/architecture.md: states no figure of kInboxWaitMs (sdmodule/limits.h says it does)'
expect_line 'limit differences: 5'

tree=twice
table
others
put sdmodule/limits.h '#define SDMODULE_LIMITS(KAL_LIMIT) \\' \
  '    KAL_LIMIT(kPollMs, 10, ms, "a poll of its own", "")'
put README.md '5 s (`kStallLimitMs`), 20 ms (`kBlockMs`).'
put docs/architecture.md '2 s (`kWaitMs`), 20 ms (`kBlockMs`).'
put include/kal_drv.h ' * 0.5 s (kPolls × kPollMs), 2 s (kWaitMs).'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with a name in two tables"
expect_line 'sdmodule/limits.h: kPollMs is in config/limits.h too'
expect_line 'limit differences: 1'

tree=clean
table
put docs/architecture.md '| a wait | 2 s (`kWaitMs`) |'
put include/kal_drv.h ' * 1 GB (kMemoryMB), 0.5 s (kPolls × kPollMs), 2500 ms (kWaitMs + kPolls × kPollMs),' \
  ' * 2 s (kWaitMs).'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'limits in the tables: 4 (config/limits.h 4)'
expect_line 'limit differences: 0'

tree=clean-all
table
others
put README.md '5 s (`kStallLimitMs`), 20 ms (`kBlockMs`).'
put docs/architecture.md '2 s (`kWaitMs`), 20 ms (`kBlockMs`), 500 ms (`kInboxWaitMs`),' \
  '2 (`kStalledChecks`), 1 s (`kStalledChecks` × `kInboxWaitMs`).'
put include/kal_drv.h ' * 0.5 s (kPolls × kPollMs), 2 s (kWaitMs).'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'limits in the tables: 9 (config/limits.h 4, espeakengine/limits.h 3, sdmodule/limits.h 2)'
expect_line 'limit differences: 0'
# The same tree read where the locale has no multibyte characters (× is two bytes).
output=$(LC_ALL=C bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree, C locale: failed (status $status):"$'\n'"$output"

finish
