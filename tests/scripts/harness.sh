# Sourced by the shell tests of the tree checks: a scratch folder removed at
# exit, a failure count, and the helpers that plant a tree and read a run.
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# put PATH LINE...: writes a file of the tree $tree, one line per argument.
put() {
  local path=$work/$tree/$1
  shift
  mkdir -p "$(dirname "$path")"
  printf '%s\n' "$@" >"$path"
}

# expect_line TEXT: the last run ($output) printed exactly this line.
expect_line() {
  grep -qxF -- "$1" <<<"$output" || fail "$tree: no line '$1' in:"$'\n'"$output"
}

# The last line and the exit status: the count of failures.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
  fi
  echo "all passed"
}
