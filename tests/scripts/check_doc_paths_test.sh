#!/usr/bin/env bash
# The document file-name check on small trees made here: a moved source file, a
# bare name found nowhere, a package path and a system path left alone, a
# source file the architecture's folder table does not place, and a clean tree.
#   usage: check_doc_paths_test.sh CHECK_SCRIPT
check=$1
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

code() {
  put speech/queue.cpp '// the ring'
  put platform/posix.cpp '// the other OS'
  put include/kal_drv.h '/* `speech/queue.cpp` keeps the ring. */'
}

tree=planted
code
put README.md 'The ring: `speech/queue.cpp`; the engine: `engine/speaker.cpp`.' \
  'Each text: `speak.cpp`. Installed: `bin/x86/kal_drv.dll`, `/usr/bin/kalsay`.'
put docs/architecture.md '`platform/posix.cpp`, `platform/` and `docs/gone.md`.'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with names that do not exist"
expect_line 'README.md: engine/speaker.cpp does not exist'
expect_line 'README.md: speak.cpp exists nowhere in the tree'
expect_line 'docs/architecture.md: docs/gone.md does not exist'
expect_line 'file names that do not exist: 3'

tree=clean
code
put README.md 'The ring: `speech/queue.cpp` (`queue.cpp`); installed: `bin/x86/kal_drv.dll`, `/usr/bin/kalsay`.'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'file names checked: 3'
expect_line 'file names that do not exist: 0'

# A file added to a folder and left off its row (a name in another row does
# not count); a file named by its path counts; folders without a row are free.
tree=unmapped
code
put engine/session.cpp '// the record'
put engine/loader.cpp '// loading'
put speech/intake.cpp '// the text exports'
put README.md 'The ring: `speech/queue.cpp`.'
put docs/architecture.md '| folder | holds | owns |' '|---|---|---|' \
  '| `speech/` | the ring (`queue.cpp`), the session (`session.cpp`) | the ring |' \
  '| `engine/` | loading (`engine/loader.cpp`) | the record |'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with a source file its row does not name"
expect_line 'docs/architecture.md: the row of speech/ does not name intake.cpp'
expect_line 'docs/architecture.md: the row of engine/ does not name session.cpp'
expect_line 'source files the folder table does not name: 2'
expect_line 'file names that do not exist: 0'

finish
