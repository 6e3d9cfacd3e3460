#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds, each on its seed
# corpus (fuzz/corpus/<target>, read only) plus its own finds
# (<build>/corpus/<target>), and prints executions, exec/s, new corpus units
# and findings per target. Findings are written to <build>/findings/<target>/;
# copy a reproducer into fuzz/corpus/<target>/ once it is fixed.
#   fuzz/run_fuzzers.sh [BUILD_DIR [SECONDS]]
#   FUZZ_TARGETS="obj_reader scene_load"  only these targets
#   FUZZ_JOBS=2                           this many targets at the same time
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/fuzz}" && pwd)
seconds=${2:-60}
targets=${FUZZ_TARGETS:-config_file obj_reader cutting_surface scene_load script_reader}
jobs=${FUZZ_JOBS:-1}
mkdir -p "$build/logs"
marker="$build/logs/.started"
touch "$marker"

run_one() {
  local t=$1
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  "$build/bin/${t}_fuzzer" "$build/corpus/$t" "$root/fuzz/corpus/$t" -dict="$root/fuzz/$t.dict" \
    -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/findings/$t/" >"$build/logs/$t.log" 2>&1
  echo $? >"$build/logs/$t.status"
}

running=0
for t in $targets; do
  if [ ! -x "$build/bin/${t}_fuzzer" ]; then
    echo "ERROR: fuzzer \"$build/bin/${t}_fuzzer\" is not built" >&2
    exit 2
  fi
  echo "fuzzing $t for $seconds s"
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

total_findings=0
printf '\n%-16s %14s %10s %10s %9s  %s\n' target executions exec/s new_units findings status
for t in $targets; do
  log="$build/logs/$t.log"
  executions=$(awk '/stat::number_of_executed_units:/ {print $2}' "$log" | tail -1)
  rate=$(awk '/stat::average_exec_per_sec:/ {print $2}' "$log" | tail -1)
  added=$(awk '/stat::new_units_added:/ {print $2}' "$log" | tail -1)
  findings=$(find "$build/findings/$t" -type f -newer "$marker" | wc -l)
  status=$(cat "$build/logs/$t.status")
  total_findings=$((total_findings + findings))
  printf '%-16s %14s %10s %10s %9s  %s\n' "$t" "${executions:-?}" "${rate:-?}" "${added:-?}" "$findings" \
    "$([ "$status" = 0 ] && echo ok || echo "exit $status, see $log")"
  find "$build/findings/$t" -type f -newer "$marker" -printf '    %p\n'
done
[ "$total_findings" -eq 0 ]
