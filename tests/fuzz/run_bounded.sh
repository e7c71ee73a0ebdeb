#!/usr/bin/env bash
# Runs the fuzz target for a bounded time from the seed corpus; new inputs go to the working
# corpus. Keeps the full log, writes the final figures to STATS, and on a finding shows the
# tail of the log and fails.
#   run_bounded.sh FUZZER SECONDS WORK_CORPUS SEED_CORPUS STATS
set -uo pipefail
fuzzer=$1 seconds=$2 work=$3 seeds=$4 stats=$5
log="$stats.log"
mkdir -p "$work"
( cd "$(dirname "$stats")" &&
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 "$work" "$seeds" ) >"$log" 2>&1
rc=$?
{ date -u '+%F %T UTC'; grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' "$log"; } >"$stats"
cat "$stats"
if [ $rc -ne 0 ]; then
  tail -n 40 "$log"
  echo "fuzz target failed (exit $rc); the input is saved beside $stats"
fi
exit $rc
