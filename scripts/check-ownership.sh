#!/usr/bin/env bash
# Checks what the architecture document says about who owns what, as far as
# grep can see it, in the driver's folders (driver voices speech engine config
# platform; tests/ and the other programs are not checked):
#   - only engine/ calls the engine through its bound entry points (`.api.`);
#   - no folder assigns to, stores into or copies into a variable that another
#     folder declares `extern`, binds a writable reference or pointer to it
#     (`EngineSession& s = Engine;`), or hands it to a standard algorithm that
#     writes it (std::fill, std::swap, the destination of std::copy...); writes
#     through pointers handed to other functions are not seen;
#   - a folder's headers other than *_internal.h and *_testing.h declare `extern`
#     only variables that another folder names (the rest belong in the folder);
#   - a *_internal.h or *_testing.h is included only by its own folder (which
#     defines the testing operations) and by tests.
# Prints each violation and their count; fails when there is one.
#   usage: check-ownership.sh [ROOT]    (ROOT: the source tree, default this one)
set -euo pipefail

FOLDERS="driver voices speech engine config platform"

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
read -ra folders <<<"$FOLDERS"
violations=0

report() {
  echo "$1"
  violations=$((violations + 1))
}

# sources FOLDER: the folder's .h and .cpp files, one a line.
sources() {
  [ -d "$root/$1" ] || return 0
  find "$root/$1" -type f \( -name '*.h' -o -name '*.cpp' \) | sort
}

# code FILE: the file's lines as "N:text", without // comments.
code() {
  awk '{ sub(/\/\/.*/, ""); print NR ":" $0 }' "$1"
}

# 1. The engine's entry points are called from engine/ only.
for folder in "${folders[@]}"; do
  [ "$folder" = engine ] && continue
  while IFS= read -r file; do
    while IFS= read -r hit; do
      report "${file#"$root"/}:${hit%%:*}: calls the engine's entry points outside engine/"
    done < <(code "$file" | grep -E '[]A-Za-z0-9_)]\.api\.[a-zA-Z_]+' || true)
  done < <(sources "$folder")
done

# The mutable variables each folder declares extern: "folder name header" lines.
declared=$(for folder in "${folders[@]}"; do
  while IFS= read -r file; do
    [[ $file == *.h ]] || continue
    code "$file" | grep -E '^[0-9]+:[[:space:]]*extern[[:space:]]' | grep -vE 'extern[[:space:]]+"C"' |
      grep -vE 'extern[[:space:]]+(const[[:space:]]|[A-Za-z_:<>]+[[:space:]]*\*?[[:space:]]*const[[:space:]])' |
      sed -E 's/^[0-9]+:[[:space:]]*extern[[:space:]]+//; s/[[:space:]]*(\[[^]]*\])*[[:space:]]*;.*$//; s/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)$/\1/' |
      while IFS= read -r name; do echo "$folder $name ${file#"$root"/}"; done
  done < <(sources "$folder")
done)

# 2. No folder writes another folder's variables.
member='(\.[A-Za-z_][A-Za-z0-9_]*|->[A-Za-z_][A-Za-z0-9_]*|\[[^]=]*\])*'
while read -r owner name header; do
  [ -n "$name" ] || continue
  write="(^|[^A-Za-z0-9_.>])${name}${member}[[:space:]]*([-+*/|&^]?=[^=]|\+\+|--)"
  write+="|(\+\+|--)[[:space:]]*${name}([^A-Za-z0-9_]|$)"
  write+="|(^|[^A-Za-z0-9_.>])${name}${member}\.(store|exchange|fetch_[a-z]+|compare_exchange_[a-z]+)[[:space:]]*\("
  write+="|(memcpy|memmove|memset|strcpy|strncpy|strcat|snprintf|sprintf)[[:space:]]*\([[:space:]]*&?[[:space:]]*${name}([^A-Za-z0-9_]|$)"
  # Standard algorithms that write their first range, or their last argument.
  write+="|std::(fill|fill_n|swap|exchange|generate|generate_n|iota|reverse|sort|replace|rotate|shuffle)[[:space:]]*\([[:space:]]*(std::begin[[:space:]]*\()?&?[[:space:]]*${name}([^A-Za-z0-9_]|$)"
  write+="|std::(copy|copy_n|copy_backward|move|move_backward|transform)[[:space:]]*\(.*,[[:space:]]*(std::begin[[:space:]]*\()?&?[[:space:]]*${name}([^A-Za-z0-9_,][^,]*)?\)[[:space:]]*;"
  # A reference or pointer bound to it (one to const is filtered out after).
  alias="(^|[(,;{:][[:space:]]*)([A-Za-z_][A-Za-z0-9_:<>]*[[:space:]]+)*[A-Za-z_][A-Za-z0-9_:<>]*[[:space:]]*[&*][[:space:]]*[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(=|\{)[[:space:]]*&?[[:space:]]*${name}([^A-Za-z0-9_(]|$)"
  constAlias="const[[:space:]]+[A-Za-z_][A-Za-z0-9_:<>]*[[:space:]]*[&*][[:space:]]*[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(=|\{)[[:space:]]*&?[[:space:]]*${name}([^A-Za-z0-9_(]|$)"
  for folder in "${folders[@]}"; do
    [ "$folder" = "$owner" ] && continue
    while IFS= read -r file; do
      while IFS= read -r hit; do
        report "${file#"$root"/}:${hit%%:*}: writes $name, which $owner/ owns ($header)"
      done < <(code "$file" | grep -E "$write" || true)
      while IFS= read -r hit; do
        report "${file#"$root"/}:${hit%%:*}: binds a writable alias to $name, which $owner/ owns ($header)"
      done < <(code "$file" | grep -E "$alias" | grep -vE "$constAlias" || true)
    done < <(sources "$folder")
  done
done <<<"$declared"

# 3. A public header's extern variables are read by another folder.
while read -r owner name header; do
  [ -n "$name" ] || continue
  [[ $header == *_internal.h || $header == *_testing.h ]] && continue
  used=0
  for folder in "${folders[@]}"; do
    [ "$folder" = "$owner" ] && continue
    [ -d "$root/$folder" ] || continue
    if grep -rqwE --include='*.h' --include='*.cpp' "$name" "$root/$folder"; then used=1; fi
  done
  ((used)) || report "$header: extern $name is named by no other folder: declare it in $owner/ only"
done <<<"$declared"

# 4. Internal headers stay in their folder, testing headers out of shipped code.
for folder in "${folders[@]}"; do
  while IFS= read -r file; do
    while IFS= read -r hit; do
      [[ $hit =~ \"([^\"]+)\" ]] || continue
      header=${BASH_REMATCH[1]}
      to=${header%%/*}
      if [[ $header == *_testing.h && $to != "$folder" ]]; then
        report "${file#"$root"/}:${hit%%:*}: includes $header, a header for tests"
      elif [[ $header == *_internal.h && $to != "$folder" ]]; then
        report "${file#"$root"/}:${hit%%:*}: includes $header, internal to $to/"
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
  done < <(sources "$folder")
done

echo "extern variables checked: $(grep -c . <<<"$declared" || true)"
echo "ownership violations: $violations"
((violations == 0))
