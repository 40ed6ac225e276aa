# Sourced by the scripts whose steps run long (lib.sh, sanitize.sh):
#   kal_progress LABEL COMMAND...
# runs COMMAND and, while it runs, prints "LABEL: still running, N s" every
# KAL_PROGRESS_SECONDS (default 20), followed by what KAL_PROGRESS_DETAIL (a
# command, e.g. one naming the test that runs) prints; returns COMMAND's status.
# COMMAND reads no standard input (it runs in the background).
kal_progress() {
  local label=$1 pid waited=0 every=${KAL_PROGRESS_SECONDS:-20} detail
  shift
  "$@" </dev/null &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    waited=$((waited + 1))
    if [ $((waited % every)) != 0 ]; then continue; fi
    detail=""
    if [ -n "${KAL_PROGRESS_DETAIL:-}" ]; then detail=$($KAL_PROGRESS_DETAIL 2>/dev/null || true); fi
    if kill -0 "$pid" 2>/dev/null; then echo "$label: still running, $waited s${detail:+: $detail}"; fi
  done
  wait "$pid"
}
