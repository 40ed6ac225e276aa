#!/usr/bin/env bash
# Checks the lock list of docs/architecture.md ("## Locks and their order", one
# numbered item a lock) against the locks the driver's folders define: every
# PlatformLock or std:: mutex defined there is named, in backticks, by an item,
# and every item names first a lock or a class that exists.
# Prints the locks found on each side; fails on a difference.
#   usage: check-locks.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail

FOLDERS="driver bridge voices speech engine config platform"

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
named=$(grep -oE '`[A-Za-z_][A-Za-z0-9_]*`' <<<"$items" | tr -d '`' | sort -u || true)

while read -r name file; do
  [ -n "$name" ] || continue
  grep -qxF "$name" <<<"$named" || report "$file: lock $name is not in the lock list of docs/architecture.md"
done <<<"$defined"

while IFS= read -r item; do
  [ -n "$item" ] || continue
  first=$(grep -oE '`[A-Za-z_][A-Za-z0-9_]*`' <<<"$item" | head -n1 | tr -d '`')
  if [ -z "$first" ]; then
    report "docs/architecture.md: lock item names no lock: $item"
  elif ! grep -qE "^$first " <<<"$defined" &&
    ! grep -qE "^[[:space:]]*class[[:space:]]+$first([^A-Za-z0-9_]|$)" "${files[@]}"; then
    report "docs/architecture.md: lock $first is defined nowhere in the driver's folders"
  fi
done <<<"$items"

echo "locks in the code: $(awk 'NF { printf "%s ", $1 }' <<<"$defined")"
echo "locks in the document: $(tr '\n' ' ' <<<"$named")"
echo "lock list differences: $problems"
((problems == 0))
