#!/usr/bin/env bash
# The limits check on small trees made here: a figure that drifted from its
# row, a sum that no longer adds up, an unknown name, a row its document does
# not state, a bare figure in the public header; and a clean tree.
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
expect_line 'docs/architecture.md:2: kGoneMs is not in config/limits.h'
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

tree=clean
table
put docs/architecture.md '| a wait | 2 s (`kWaitMs`) |'
put include/kal_drv.h ' * 1 GB (kMemoryMB), 0.5 s (kPolls × kPollMs), 2500 ms (kWaitMs + kPolls × kPollMs),' \
  ' * 2 s (kWaitMs).'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'limits in the table: 4'
expect_line 'limit differences: 0'

finish
