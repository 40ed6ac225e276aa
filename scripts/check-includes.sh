#!/usr/bin/env bash
# Checks that the driver's includes point one way: a file may include the
# headers of its own folder and of the folders after it in ORDER, never of a
# folder before it. The public header (include/) and system headers are allowed
# everywhere; tests/, simengine/ and kalsay/ are not checked. The programs in
# HOSTS use the driver as any host does: they include none of its folders
# (the public header, kalsay's binding and their own headers only).
# Prints every upward include and their count, then the number of includes from
# each folder into each other one; fails when an include points upward.
#   usage: check-includes.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail

# The folders from the top down: each may include only the ones after it.
# bridge/ (the isolation client and its channel) sits under driver/, which
# forwards to it in isolated mode; of the core below it, it includes only
# config/limits.h and platform/runtime_pool.h.
ORDER="driver bridge voices speech engine config platform"
HOSTS="sdmodule"

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
read -ra folders <<<"$ORDER"
declare -A rank count
for i in "${!folders[@]}"; do rank[${folders[$i]}]=$i; done

# Each quoted include of a folder's files that names a folder, as
# "file line header folder" (the file relative to the root).
#   folder_includes FOLDER NAME-PATTERN...
folder_includes() {
  local folder=$1 file match line header
  shift
  while IFS= read -r file; do
    while IFS= read -r match; do
      line=${match%%:*}
      [[ $match =~ \"([^\"]+)\" ]] || continue
      header=${BASH_REMATCH[1]}
      # "../speech/speech.h" names the same folder as "speech/speech.h".
      while [[ $header == ./* || $header == ../* ]]; do header=${header#*/}; done
      # Without a folder: a header beside the file, or the public one.
      [[ $header == */* ]] || continue
      echo "${file#"$root"/} $line $header ${header%%/*}"
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
  done < <(find "$root/$folder" -type f \( "$@" \) | sort)
}

upward=0
for from in "${folders[@]}"; do
  [ -d "$root/$from" ] || continue
  while read -r file line header to; do
    [ -n "${rank[$to]+set}" ] && [ "$to" != "$from" ] || continue
    count[$from,$to]=$((${count[$from,$to]:-0} + 1))
    if ((rank[$to] < rank[$from])); then
      echo "$file:$line: includes $header ($to is above $from)"
      upward=$((upward + 1))
    fi
  done < <(folder_includes "$from" -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc')
done
echo "upward includes: $upward"

inward=0
for host in $HOSTS; do
  [ -d "$root/$host" ] || continue
  while read -r file line header to; do
    if [ -n "${rank[$to]+set}" ]; then
      echo "$file:$line: includes $header (a host sees only the public header)"
      inward=$((inward + 1))
    fi
  done < <(folder_includes "$host" -name '*.h' -o -name '*.cpp')
done
echo "host includes of the driver's folders: $inward"

echo "includes from each folder (rows) into the others (columns), order: $ORDER"
printf '%-10s' ""
for to in "${folders[@]}"; do printf '%9s' "$to"; done
echo
for from in "${folders[@]}"; do
  printf '%-10s' "$from"
  for to in "${folders[@]}"; do
    if [ "$from" = "$to" ]; then printf '%9s' "."; else printf '%9s' "${count[$from,$to]:-0}"; fi
  done
  echo
done

((upward == 0 && inward == 0))
