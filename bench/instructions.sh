#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Whole-process cost of one report, the figure that matters for a tool run
# once per invocation: the instruction count of `tapsmith 9 1 > /dev/null`
# under callgrind, run with an empty environment (env -i) and an absolute
# path so that the count depends on the binary alone (glibc's start-up
# spends about 500 instructions per environment variable), next to the same
# report from the plain C program bench/reference.c (gcc -O2, one printf
# per entry) and the floor of a program linked the same way; and the peak
# heap under massif. Fails when tapsmith costs more than 0.45 times the
# reference, measured in the same run, or differs from the reference's
# output. Also tapsmith-fixed's longest, widest filter (--bits=30 127 20,
# whose figures need the response at 257 frequencies) against `5 1`,
# failing above twice its cost.
#   bench/instructions.sh [PROGRAM [FIXED]]
#   (defaults: build/release/report/tapsmith, build/release/fixed/tapsmith-fixed)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require valgrind
require gcc
require file
program=$(realpath "${1:-build/release/report/tapsmith}")
fixed=$(realpath "${2:-build/release/fixed/tapsmith-fixed}")
max_ratio=0.45
max_fixed_ratio=2.0
budget_heap=$((4 * 1024 * 1024))
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
valgrind=$(command -v valgrind)

gcc -O2 bench/reference.c -o "$tmp/reference" -lm
# The floor: a dynamically linked program that does nothing but write as
# many bytes as the report has.
bytes=$("$program" 9 1 | wc -c)
printf '#include <unistd.h>\nstatic char text[%d];\nint main(void) { return write(1, text, sizeof text) != sizeof text; }\n' \
    "$bytes" >"$tmp/floor.c"
gcc -O2 "$tmp/floor.c" -o "$tmp/floor"
"$tmp/reference" 9 1 | cmp - <("$program" 9 1) || { echo "the reference's report differs from tapsmith's"; exit 1; }

count() {  # count PROGRAM [ARG...]: instructions of `PROGRAM ARG...` (default 9 1) in an empty environment
    local program=$1
    shift
    [ $# -gt 0 ] || set -- 9 1
    env -i "$valgrind" --tool=callgrind --callgrind-out-file="$tmp/callgrind.out" "$program" "$@" >/dev/null \
        2>"$tmp/callgrind.log"
    sed -n 's/.*I *refs: *//p' "$tmp/callgrind.log" | tr -d ,
}
instructions=$(count "$program")
reference=$(count "$tmp/reference")
floor=$(count "$tmp/floor")
fixed_small=$(count "$fixed" 5 1)
fixed_large=$(count "$fixed" --bits=30 127 20)
fixed_ratio=$(awk -v a="$fixed_large" -v b="$fixed_small" 'BEGIN { printf "%.3f", a / b }')

env -i "$valgrind" --tool=massif --massif-out-file="$tmp/massif.out" "$program" 9 1 >/dev/null 2>/dev/null
heap=$(sed -n 's/^mem_heap_B=//p' "$tmp/massif.out" | sort -n | tail -1)

ratio=$(awk -v a="$instructions" -v b="$reference" 'BEGIN { printf "%.3f", a / b }')
echo "instructions (tapsmith 9 1): $instructions"
echo "instructions (plain C reference, gcc -O2): $reference"
echo "ratio tapsmith / reference: $ratio (at most $max_ratio)"
echo "instructions (the floor: a dynamically linked program that only writes $bytes bytes): $floor"
echo "peak heap (tapsmith 9 1): $heap bytes (budget $budget_heap)"
echo "instructions (tapsmith-fixed 5 1): $fixed_small"
echo "instructions (tapsmith-fixed --bits=30 127 20): $fixed_large"
echo "ratio tapsmith-fixed --bits=30 127 20 / 5 1: $fixed_ratio (at most $max_fixed_ratio)"
status=0
awk -v r="$fixed_ratio" -v m="$max_fixed_ratio" 'BEGIN { exit !(r <= m) }' || { echo "tapsmith-fixed over its budget"; status=1; }
awk -v r="$ratio" -v m="$max_ratio" 'BEGIN { exit !(r <= m) }' || { echo "over the instruction budget"; status=1; }
[ "$heap" -le "$budget_heap" ] || { echo "over the heap budget"; status=1; }
exit "$status"
