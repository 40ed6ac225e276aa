#!/usr/bin/env bash
# Checks the documents' figures against the one table of limits
# (config/limits.h). A figure that comes from the table is written with the
# names it comes from: "2 s (`kHandOverWaitMs`)", "0.5 s (kStopPolls ×
# kStopPollMs)", "6.6 s (`kA` + `kB`)". Fails on a figure that differs from its
# names' sum or product, on a name the table lacks, on a row whose document
# states none of its figures, and on a figure in the public header that names
# no limit at all. Prints each difference and their count.
#   usage: check-limits.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
DOCUMENTS="README.md docs/architecture.md docs/integration.md include/kal_drv.h bridge/connection.h"

declare -A value unit documents
while IFS=$'\t' read -r name val u docs; do
  value[$name]=$val unit[$name]=$u documents[$name]=$docs
done < <(tr -d '\\' <"$root/config/limits.h" | tr '\n' ' ' |
  grep -oP 'KAL_LIMIT\(\s*k\w+,\s*\d+,\s*\w+,\s*"[^"]*",\s*"[^"]*"\)' |
  sed -E 's/KAL_LIMIT\(\s*(k\w+),\s*([0-9]+),\s*(\w+),\s*"[^"]*",\s*"([^"]*)"\)/\1\t\2\t\3\t\4/')
echo "limits in the table: ${#value[@]}"

differences=0
differ() {
  echo "$*"
  differences=$((differences + 1))
}

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

declare -A stated
for doc in $DOCUMENTS; do
  [ -f "$root/$doc" ] || continue
  # A figure, its unit, then the names in parentheses (backticks optional).
  pattern='([0-9]+(\.[0-9]+)?) ?(ms|s|MB|GB|polls|tries)? \((`?k[A-Z][A-Za-z]*`?( ?[+×] ?`?k[A-Z][A-Za-z]*`?)*)'
  while IFS= read -r match; do
    line=${match%%:*}
    text=${match#*:}
    [[ $text =~ $pattern ]] || continue
    figure=${BASH_REMATCH[1]} u=${BASH_REMATCH[3]} expression=${BASH_REMATCH[4]//\`/}
    expression=${expression// /}
    sum=0 product=1 known=1 last=
    IFS=+ read -ra terms <<<"$expression"
    for term in "${terms[@]}"; do
      product=1
      IFS=× read -ra factors <<<"$term"
      for name in "${factors[@]}"; do
        last=$name
        if [ -z "${value[$name]+set}" ]; then
          differ "$doc:$line: $name is not in config/limits.h"
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
      differ "$doc:$line: $figure ${u:-} for $expression, the table gives $sum ${unit[$last]}"
  done < <(grep -noP '[0-9]+(\.[0-9]+)? ?(ms|s|MB|GB|polls|tries)? \(`?k[A-Z]\w*`?( ?[+×] ?`?k[A-Z]\w*`?)*' "$root/$doc" || true)
done

for name in "${!value[@]}"; do
  for doc in ${documents[$name]}; do
    [ -n "${stated[$name,$doc]+set}" ] || differ "$doc: states no figure of $name (config/limits.h says it does)"
  done
done

# Every time or size figure of the public header comes from the table.
while IFS= read -r match; do
  differ "include/kal_drv.h:${match%%:*}: a figure that names no limit: ${match#*:}"
done < <(grep -noP '\b[0-9]+(\.[0-9]+)? ?(ms|s|MB|GB)\b(?! \(k[A-Z])' "$root/include/kal_drv.h" 2>/dev/null || true)

echo "limit differences: $differences"
[ "$differences" -eq 0 ]
