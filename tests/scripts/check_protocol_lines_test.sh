#!/usr/bin/env bash
# The quoted-protocol-line check on small trees made here: a line the code does
# not write (a word changed, a word left out) is named, also beside a literal
# made only of conversions; placeholders, a line
# cut with "...", the beginning of a line, code blocks and backticked code pass.
#   usage: check_protocol_lines_test.sh CHECK_SCRIPT
check=$1
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

code() {
  put bridge/operations.cpp 'snprintf(line, sizeof line, "Text %04X beendet, wird nicht wiederholt", mark);' \
    'NoteProtocol("Sprachausgabe-Prozess nicht neu gestartet: Sprachausgabe aus bis kal_Initialize");'
  put bridge/refusals_win32.cpp 'AppendLine("kal64.pro", line, snprintf(line, n, "ERR:: %s refused %s: %s\r\n", who, what, why));'
  put driver/watchdog.cpp 'LogWriteFormat(LOG_ERROR, "Sprachausgabe haengt in %s seit %u ms: Prozess wird beendet", call, ms);' \
    'snprintf(detail, n, "%s: %s", line, text);  // matches anything: left out'
}
quoted() {
  printf '%s\n' 'The helper writes `Text NNNN beendet, wird nicht wiederholt` and' \
    '`Sprachausgabe haengt in CALL seit N ms: Prozess wird beendet`, then' \
    '`Sprachausgabe-Prozess nicht neu gestartet`; refusals: `ERR:: bridge refused answer: ...`.' \
    'Code: `kal_Synth(text, mark)` and `a b c_d`.' '```' '`Nothing here is checked at all`' '```'
}

tree=planted
code
put README.md "$(quoted)" 'Also `Sprachausgabe haengt seit N ms: Prozess wird beendet` and' \
  '`Text NNNN beendet, wird nicht widerholt`.'
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -ne 0 ] || fail "$tree: passed with lines no code writes"
expect_line 'README.md: no code writes the line "Sprachausgabe haengt seit N ms: Prozess wird beendet"'
expect_line 'README.md: no code writes the line "Text NNNN beendet, wird nicht widerholt"'
expect_line 'quoted lines no code writes: 2'

tree=clean
code
put docs/integration.md "$(quoted)"
output=$(bash "$check" "$work/$tree")
status=$?
[ "$status" -eq 0 ] || fail "$tree: failed (status $status):"$'\n'"$output"
expect_line 'quoted lines checked: 4'
expect_line 'quoted lines no code writes: 0'

finish
