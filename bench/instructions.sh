#!/usr/bin/env bash
# Whole-process cost of one report, the figure that matters for a tool run
# once per invocation: the instruction count of `tapsmith 9 1 > /dev/null`
# under callgrind (deterministic for a given binary and machine) and the
# peak heap under massif. Fails when either exceeds its budget.
#   bench/instructions.sh [PROGRAM]   (default: build/release/report/tapsmith)
set -euo pipefail
program=${1:-build/release/report/tapsmith}
budget_instructions=400000
budget_heap=$((4 * 1024 * 1024))
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

valgrind --tool=callgrind --callgrind-out-file="$tmp/callgrind.out" "$program" 9 1 >/dev/null 2>"$tmp/callgrind.log"
instructions=$(sed -n 's/.*I *refs: *//p' "$tmp/callgrind.log" | tr -d ',')

valgrind --tool=massif --massif-out-file="$tmp/massif.out" "$program" 9 1 >/dev/null 2>/dev/null
heap=$(sed -n 's/^mem_heap_B=//p' "$tmp/massif.out" | sort -n | tail -1)

echo "instructions (tapsmith 9 1): $instructions (budget $budget_instructions)"
echo "peak heap (tapsmith 9 1): $heap bytes (budget $budget_heap)"
status=0
[ "$instructions" -le "$budget_instructions" ] || { echo "over the instruction budget"; status=1; }
[ "$heap" -le "$budget_heap" ] || { echo "over the heap budget"; status=1; }
exit "$status"
