#!/usr/bin/env bash
# Checks the documents' figures against the tables of limits: the driver's and
# its bridge's (config/limits.h), the eSpeak NG engine's (espeakengine/limits.h)
# and speech-dispatcher's module's (sdmodule/limits.h), separate binaries that
# do not include config/. A figure that comes from a table is written
# with the names it comes from: "2 s (`kHandOverWaitMs`)", "0.5 s (kStopPolls ×
# kStopPollMs)", "6.6 s (`kA` + `kB`)". Fails on a figure that differs from its
# names' sum or product, on a name no table has, on a name two tables have, on
# a row whose document states none of its figures, and on a figure in the
# public header that names no limit at all. Prints each difference and their
# count.
#   usage: check-limits.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
TABLES="config/limits.h espeakengine/limits.h sdmodule/limits.h"
DOCUMENTS="README.md docs/architecture.md docs/integration.md docs/performance.md include/kal_drv.h bridge/connection.h"

differences=0
differ() {
  echo "$*"
  differences=$((differences + 1))
}

# Every table's rows, KAL_LIMIT(name, value, unit, "what", "documents"); a
# name of two tables keeps the first one's row.
declare -A value unit documents table
counts=
for file in $TABLES; do
  [ -f "$root/$file" ] || continue
  rows=0
  while IFS=$'\t' read -r name val u docs; do
    rows=$((rows + 1))
    if [ -n "${table[$name]+set}" ]; then
      differ "$file: $name is in ${table[$name]} too"
      continue
    fi
    value[$name]=$val unit[$name]=$u documents[$name]=$docs table[$name]=$file
  done < <(tr -d '\\' <"$root/$file" | tr '\n' ' ' |
    grep -oP 'KAL_LIMIT\(\s*k\w+,\s*\d+,\s*\w+,\s*"[^"]*",\s*"[^"]*"\)' |
    sed -E 's/KAL_LIMIT\(\s*(k\w+),\s*([0-9]+),\s*(\w+),\s*"[^"]*",\s*"([^"]*)"\)/\1\t\2\t\3\t\4/')
  counts+="${counts:+, }$file $rows"
done
echo "limits in the tables: ${#value[@]} ($counts)"

# to_table FIGURE UNIT NAME: the figure in the table's unit of NAME (x1000 for
# seconds stated of milliseconds, x1024 for GB of MB), as an integer or "?".
to_table() {
  local figure=$1 u=$2 factor=1
  case "$u" in
    s) factor=1000 ;;
    GB) factor=1024 ;;
  esac
  awk -v f="$figure" -v k="$factor" 'BEGIN { v = f * k; if (v == int(v)) print v; else print "?" }'
}

# figures FILE: each figure with its names as "line:text", the line where it
# starts; a figure that a line's end parts from its names is read whole.
figures() {
  perl -0777 -ne 'while (/[0-9]+(?:\.[0-9]+)?\s?(?:ms|s|MB|GB|polls|tries)?\s+\(`?k[A-Z]\w*`?(?:\s*(?:\+|×)\s*`?k[A-Z]\w*`?)*/g) {
    my $text = $&;
    my $line = 1 + (substr($_, 0, $-[0]) =~ tr/\n//);
    $text =~ s/\s+/ /g;
    print "$line:$text\n";
  }' "$1"
}

declare -A stated
for doc in $DOCUMENTS; do
  [ -f "$root/$doc" ] || continue
  # A figure, its unit, then the names in parentheses (backticks optional).
  # × as a string, not in a bracket: in a locale without multibyte characters
  # it is two bytes.
  pattern='([0-9]+(\.[0-9]+)?) ?(ms|s|MB|GB|polls|tries)? \((`?k[A-Z][A-Za-z]*`?( ?(\+|×) ?`?k[A-Z][A-Za-z]*`?)*)'
  while IFS= read -r match; do
    line=${match%%:*}
    text=${match#*:}
    [[ $text =~ $pattern ]] || continue
    figure=${BASH_REMATCH[1]} u=${BASH_REMATCH[3]} expression=${BASH_REMATCH[4]//\`/}
    expression=${expression// /}
    sum=0 product=1 known=1 last=
    IFS=+ read -ra terms <<<"${expression//×/*}"
    for term in "${terms[@]}"; do
      product=1
      IFS='*' read -ra factors <<<"$term"
      for name in "${factors[@]}"; do
        last=$name
        if [ -z "${value[$name]+set}" ]; then
          differ "$doc:$line: $name is in no limits table"
          known=0
          continue
        fi
        stated[$name,$doc]=1
        product=$((product * value[$name]))
      done
      sum=$((sum + product))
    done
    ((known)) || continue
    expected=$(to_table "$figure" "${u:-${unit[$last]}}" "$last")
    [ "$expected" = "$sum" ] ||
      differ "$doc:$line: $figure ${u:+$u }for $expression, the table gives $sum ${unit[$last]}"
  done < <(figures "$root/$doc")
done

for name in "${!value[@]}"; do
  for doc in ${documents[$name]}; do
    [ -n "${stated[$name,$doc]+set}" ] || differ "$doc: states no figure of $name (${table[$name]} says it does)"
  done
done

# Every time or size figure of the public header comes from the table.
while IFS= read -r match; do
  differ "include/kal_drv.h:${match%%:*}: a figure that names no limit: ${match#*:}"
done < <(grep -noP '\b[0-9]+(\.[0-9]+)? ?(ms|s|MB|GB)\b(?! \(k[A-Z])' "$root/include/kal_drv.h" 2>/dev/null || true)

echo "limit differences: $differences"
[ "$differences" -eq 0 ]
