#!/usr/bin/env bash
# Checks that every source file a document names exists: in README.md, docs/
# and include/kal_drv.h, each backticked relative path, and each backticked
# bare source file name (`queue.cpp`), which must exist somewhere in the tree.
# Paths inside the packages (PACKAGE_FOLDERS), in build trees and on installed
# systems (/usr/...) are not the tree's and are left alone.
# Then the other way round: every source file (.cpp) of a folder that has a
# row in docs/architecture.md's folder table is named in that row, so a file
# added to a folder is placed on the map.
# Prints each name that exists nowhere and each file its row lacks; fails when
# there is one.
#   usage: check-doc-paths.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail

PACKAGE_FOLDERS="bin lib licenses"

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
problems=0
checked=0

# The tree's own files, build trees and the version control's left out.
sources=$(find . \( -name 'build*' -o -name '.git' \) -prune -o -type f -print | sed 's|^\./||')
read -ra package <<<"$PACKAGE_FOLDERS"

docs=(README.md include/kal_drv.h)
for doc in docs/*.md; do [ -f "$doc" ] && docs+=("$doc"); done

for doc in "${docs[@]}"; do
  [ -f "$doc" ] || continue
  while IFS= read -r path; do
    [ -n "$path" ] || continue
    path=${path%/}
    if [[ $path == */* ]]; then
      top=${path%%/*}
      [[ " ${package[*]} " == *" $top "* || $top == build* ]] && continue
      [ -e "$path" ] || { echo "$doc: $path does not exist"; problems=$((problems + 1)); }
    else
      grep -qE "(^|/)${path//./\\.}\$" <<<"$sources" ||
        { echo "$doc: $path exists nowhere in the tree"; problems=$((problems + 1)); }
    fi
    checked=$((checked + 1))
  done < <(grep -oE '`[A-Za-z0-9_.-]+(/[A-Za-z0-9_.-]+)+/?`|`[A-Za-z0-9_-]+(\.[A-Za-z0-9_-]+)*\.(cpp|h|sh|md|def|map|cmake)`' "$doc" |
    tr -d '`' | sort -u)
done

echo "file names checked: $checked"
echo "file names that do not exist: $problems"

# The folder table's rows: "| `folder/` | holds | owns |".
unmapped=0
map=docs/architecture.md
if [ -f "$map" ]; then
  while IFS= read -r row; do
    [[ $row =~ ^\|\ \`([A-Za-z0-9_]+)/\`\ \| ]] || continue
    folder=${BASH_REMATCH[1]}
    [ -d "$folder" ] || continue
    while IFS= read -r file; do
      name=${file##*/}
      [[ $row == *"\`$name\`"* || $row == *"\`$folder/$name\`"* ]] && continue
      echo "$map: the row of $folder/ does not name $name"
      unmapped=$((unmapped + 1))
    done < <(find "$folder" -maxdepth 1 -type f -name '*.cpp' | sort)
  done <"$map"
fi
echo "source files the folder table does not name: $unmapped"
((problems == 0 && unmapped == 0))
