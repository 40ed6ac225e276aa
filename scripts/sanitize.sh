#!/usr/bin/env bash
# Builds the driver's core natively with clang and runs, under the sanitizers:
#   - the unit tests (with the load and fault tests) under AddressSanitizer +
#     UndefinedBehaviorSanitizer (no recovery) and under ThreadSanitizer;
#   - every fuzz target (libFuzzer, ASan+UBSan) for KAL_FUZZ_SECONDS each
#     (default 30), starting from its seed corpus; an input that breaks the
#     driver lands in tests/fuzz/<target>/crashers/ and is replayed by the unit
#     tests from then on.
#   - the driver with the eSpeak NG engine (kal_espeak_tests: real audio, a
#     PulseAudio server of its own, the load rows against the real engine)
#     under both, ThreadSanitizer included;
#   - the native product in isolated mode (kal_isolation_tests: libkal_drv.so
#     and kal_helper with an engine that aborts, faults, hangs or leaks, and
#     eSpeak NG's own aborting texts) under both.
# Prints the stress counts, then "N passed, M failed" last; exits non-zero on
# any failure or sanitizer report.
#
# Longer fuzzing, e.g. an hour per target:  KAL_FUZZ_SECONDS=3600 bash scripts/sanitize.sh
# Fewer stress texts for a quick look:       KAL_STRESS_TEXTS=20000 bash scripts/sanitize.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NATIVE_BUILD_DIR:-$root/build-native}
fuzz_seconds=${KAL_FUZZ_SECONDS:-30}
mkdir -p "$build"
log=$build/logs
rm -rf "$log"
mkdir -p "$log"

bash "$root/scripts/setup.sh" || exit 1
source "$root/scripts/progress.sh"

passed=0
failed=0
failures=()
note_failure() { failed=$((failed + 1)); failures+=("$1"); }
now() { date +%s; }
# What a long step is at: a build log's last line, a test log's last suite.
last_line() { tail -n 1 "$1" | cut -c1-100; }
last_suite() { grep -E '^\[----------\] [0-9]+ tests? from' "$1" | tail -n 1 | sed 's/^\[----------\] //'; }

# A sanitizer report in a log counts as a failure of its run, whatever the exit code.
reports_in() { grep -cE "ERROR: AddressSanitizer|runtime error:|WARNING: ThreadSanitizer|ERROR: LeakSanitizer|ERROR: libFuzzer" "$1"; }

for config in address thread; do
  started=$(now)
  echo "sanitize: building $config (log: $log/build-$config.txt)"
  if ! cmake -S "$root/native" -B "$build/$config" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKAL_SANITIZE=$config >"$log/configure-$config.txt" 2>&1 ||
     ! KAL_PROGRESS_DETAIL="last_line $log/build-$config.txt" kal_progress "sanitize: building $config" \
         cmake --build "$build/$config" -j2 >"$log/build-$config.txt" 2>&1; then
    tail -n 30 "$log/build-$config.txt"
    note_failure "build $config"
    continue
  fi
  echo "sanitize: built $config in $(( $(now) - started )) s"
done

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Every race is printed; the run then exits with 66.
export TSAN_OPTIONS=halt_on_error=0:exitcode=66:second_deadlock_stack=1

for run in address/kal_unit_tests thread/kal_unit_tests address/kal_espeak_tests thread/kal_espeak_tests \
    address/kal_isolation_tests thread/kal_isolation_tests; do
  config=${run%%/*}
  exe=$build/$config/tests/${run#*/}
  [ -x "$exe" ] || continue
  started=$(now)
  out=$log/${run#*/}-$config.txt
  echo "sanitize: running ${run#*/} under $config"
  # The isolation client's records live as long as the library, which is never
  # unloaded (and a pinned module must run no destructors): a link the client
  # still keeps at exit is never disposed of, so its watcher thread, ended with
  # its helper, is never joined, and the thread checker counts it as leaked.
  # Races are still reported.
  tsan=$TSAN_OPTIONS
  [ "$run" = thread/kal_isolation_tests ] && tsan=$TSAN_OPTIONS:report_thread_leaks=0
  KAL_PROGRESS_DETAIL="last_suite $out" TSAN_OPTIONS=$tsan kal_progress "sanitize: ${run#*/} under $config" \
    bash -c 'cd "$1" && timeout 1800 "$2" >"$3" 2>&1' _ "$build/$config/tests" "$exe" "$out"
  code=$?
  seconds=$(( $(now) - started ))
  ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$out" | tail -n 1)
  bad=$(grep -c '^\[  FAILED  \] [A-Za-z].*(' "$out")
  reports=$(reports_in "$out")
  passed=$((passed + ${ok:-0}))
  failed=$((failed + bad))
  echo "sanitize: ${run#*/} under $config: ${ok:-0} passed, $bad failed, $reports sanitizer reports, exit $code, $seconds s"
  grep '^\[  FAILED  \] [A-Za-z].*(' "$out" | sed "s/^/  $config /"
  grep -E '^(stress-row|cycles|fault matrix|replayed):' "$out" | sed "s/^/  $config /"
  if [ "$reports" -gt 0 ]; then
    note_failure "$reports sanitizer reports in ${run#*/} under $config (see $out)"
    # The first frames of each report; the whole reports are in the log.
    grep -E -A3 "ERROR: AddressSanitizer|runtime error:|WARNING: ThreadSanitizer" "$out" |
      grep -E "ERROR|runtime error|WARNING|^ +#[0-2] |(Read|Write|Previous).* at " | cut -c1-200 | head -n 60
  elif [ "$code" -ne 0 ] && [ "$bad" -eq 0 ]; then
    note_failure "${run#*/} under $config exited with $code (see $out)"
  fi
done

fuzz_total=0
for exe in "$build"/address/tests/fuzz_*; do
  [ -x "$exe" ] || continue
  name=${exe##*/fuzz_}
  seeds=$root/tests/fuzz/$name/corpus
  crashers=$root/tests/fuzz/$name/crashers/
  work=$build/fuzz-corpus/$name
  mkdir -p "$work" "$crashers"
  out=$log/fuzz-$name.txt
  kal_progress "sanitize: fuzz $name" bash -c 'cd "$1" && shift && "$@"' _ "$build/address/tests" \
    timeout $((fuzz_seconds + 300)) "$exe" -max_total_time="$fuzz_seconds" \
      -print_final_stats=1 -artifact_prefix="$crashers" -max_len=20000 -timeout=25 "$work" "$seeds" >"$out" 2>&1
  code=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)/\1/p' "$out" | tail -n 1)
  fuzz_total=$((fuzz_total + ${runs:-0}))
  echo "sanitize: fuzz $name: ${runs:-0} executions in ${fuzz_seconds} s, exit $code"
  if [ "$code" -ne 0 ]; then
    note_failure "fuzz $name (input kept in tests/fuzz/$name/crashers/, see $out)"
    grep -E -A20 "ERROR:|runtime error:" "$out" | head -n 40
  else
    passed=$((passed + 1))
  fi
done
echo "sanitize: fuzz executions in all: $fuzz_total"
rm -rf /dev/shm/kal-fuzz-* 2>/dev/null

# The load tests' rows of both builds, added up. Each text queued is spoken (given
# to the engine once, in its thread's order) or discarded (dropped from the queue
# by a kal_Stop that began after it was queued, as a stop must); lost is a text
# neither spoken nor discarded; waits_expired counts host threads that waited
# 2 s in vain for their earlier text to reach the engine (a stalled driver).
echo "stress: spoken = given to the engine once; discarded = dropped by a stop begun after it was queued;"
echo "stress: lost, duplicated and out_of_order must be 0"
cat "$log"/kal_*_tests-*.txt 2>/dev/null | awk '
  /^stress-row:/ {
    for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] in sum || kv[2] ~ /^[0-9]+$/) sum[kv[1]] += kv[2] }
  }
  END { printf "stress: texts=%d spoken=%d discarded=%d lost=%d duplicated=%d out_of_order=%d\n", sum["texts"], sum["spoken"], sum["discarded"], sum["lost"], sum["duplicated"], sum["out_of_order"] }'

for f in "${failures[@]}"; do echo "sanitize: FAILED: $f"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
