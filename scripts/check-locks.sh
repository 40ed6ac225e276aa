#!/usr/bin/env bash
# Checks the lock list of docs/architecture.md ("## Locks and their order", one
# numbered item a lock) against the locks the product's folders define: every
# PlatformLock or std:: mutex defined there is the first backticked word of an
# item, and every item begins with a lock or a class that exists; where the item
# names a file right after it ("1. `name` (`folder/file.cpp`...") the lock is
# defined in that very file.
# Prints the locks found on each side; fails on a difference.
#   usage: check-locks.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail

FOLDERS="driver bridge host32 voices speech engine config platform espeakengine sdmodule"

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
doc=$root/docs/architecture.md
read -ra folders <<<"$FOLDERS"
problems=0

report() {
  echo "$1"
  problems=$((problems + 1))
}

files=()
for folder in "${folders[@]}"; do
  [ -d "$root/$folder" ] || continue
  while IFS= read -r file; do files+=("$file"); done < <(find "$root/$folder" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
done

# "name file" for each lock defined (not declared extern) in the folders.
defined=$(for file in "${files[@]}"; do
  awk '{ sub(/\/\/.*/, "") } /^[[:space:]]*(static[[:space:]]+)?(PlatformLock|std::(recursive_|shared_|timed_)?mutex)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(\{\})?;/ {
    line = $0; sub(/^[[:space:]]*(static[[:space:]]+)?[A-Za-z_:]+[[:space:]]+/, "", line); sub(/[^A-Za-z0-9_].*$/, "", line); print line
  }' "$file" | while IFS= read -r name; do echo "$name ${file#"$root"/}"; done
done)

# The section's numbered items, one a line.
items=$(awk '/^## / { inside = ($0 ~ /^## Locks and their order/) ; next }
  inside && /^[0-9]+\. / { print }' "$doc")
[ -n "$items" ] || report "docs/architecture.md: no numbered items under \"## Locks and their order\""
# "name file" for each item: the backticked word it begins with, and the file
# in backticks right after it in parentheses ("-" when it names none).
listed=$(sed -nE 's/^[0-9]+\. `([A-Za-z_][A-Za-z0-9_]*)`( \(`([^`]+)`)?.*/\1 \3/p' <<<"$items" |
  awk '{ print $1, ($2 == "" ? "-" : $2) }')
named=$(awk '{ print $1 }' <<<"$listed" | sort -u)

while read -r name file; do
  [ -n "$name" ] || continue
  if ! grep -qE "^$name " <<<"$listed"; then
    report "$file: lock $name is not in the lock list of docs/architecture.md"
  elif ! grep -qE "^$name ($file|-)\$" <<<"$listed"; then
    report "docs/architecture.md: lock $name is placed in another file than $file"
  fi
done <<<"$defined"

while IFS= read -r item; do
  [ -n "$item" ] || continue
  grep -qE '^[0-9]+\. `[A-Za-z_][A-Za-z0-9_]*`' <<<"$item" || report "docs/architecture.md: lock item does not begin with a lock: $item"
done <<<"$items"

while read -r name file; do
  [ -n "$name" ] || continue
  if [ "$file" = - ]; then
    candidates=("${files[@]}")
  elif [ -f "$root/$file" ]; then
    candidates=("$root/$file")
  else
    report "docs/architecture.md: lock $name is placed in $file, which does not exist"
    continue
  fi
  grep -qE "^$name " <<<"$defined" && continue  # its file: checked above
  grep -qE "^[[:space:]]*class[[:space:]]+$name([^A-Za-z0-9_]|\$)" "${candidates[@]}" && continue
  report "docs/architecture.md: lock $name is defined nowhere in the driver's folders"
done <<<"$listed"

echo "locks in the code: $(awk 'NF { printf "%s ", $1 }' <<<"$defined")"
echo "locks in the document: $(tr '\n' ' ' <<<"$named")"
echo "lock list differences: $problems"
((problems == 0))
