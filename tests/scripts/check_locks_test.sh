#!/usr/bin/env bash
# The lock-list check on small trees made here: a lock the document leaves out
# (or names only further on in an item), a lock it names that the code does not
# define, a lock placed in the wrong file or a file that does not exist, and a
# clean tree.
#   usage: check_locks_test.sh CHECK_SCRIPT
check=$1
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

code() {
  put driver/gate.cpp 'class Gate {' '};' 'namespace {' 'PlatformLock gateLock;' '}'
  put speech/queue.cpp 'PlatformLock QueueLock;' 'void F() { PlatformLockGuard guard(QueueLock); }'
  put speech/speech.h 'extern PlatformLock QueueLock;  // declared, not defined'
  put platform/posix.cpp 'static std::mutex tablesLock;' '// PlatformLock commentLock; only a comment'
}

tree=planted
code
put config/log.cpp 'PlatformLock logLock{};'
put docs/architecture.md '# Map' '## Locks and their order' '' '1. `Gate` (`driver/gate.cpp`): outermost.' \
  '2. `gateLock`: its waiters.' '3. `QueueLock` (`speech/speech.h`): the ring.' '4. `oldLock`: gone.' \
  '5. `tablesLock` (`platform/win32.cpp`): tables.' '6. The protocol: `logLock`, not first.' \
  '' '## Waits' '1. `logLock` named in another section does not count.'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with a wrong list"
expect_line 'config/log.cpp: lock logLock is not in the lock list of docs/architecture.md'
expect_line 'docs/architecture.md: lock oldLock is defined nowhere in the driver'"'"'s folders'
expect_line 'docs/architecture.md: lock QueueLock is placed in another file than speech/queue.cpp'
expect_line 'docs/architecture.md: lock tablesLock is placed in platform/win32.cpp, which does not exist'
expect_line 'docs/architecture.md: lock item does not begin with a lock: 6. The protocol: `logLock`, not first.'
expect_line 'lock list differences: 6'

tree=clean
code
put docs/architecture.md '## Locks and their order' '1. `Gate`: outermost.' '2. `gateLock`: waiters.' \
  '3. `QueueLock` (`speech/queue.cpp`): the ring.' '4. `tablesLock`: tables.' '## Next'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'locks in the code: gateLock QueueLock tablesLock '
expect_line 'lock list differences: 0'

finish
