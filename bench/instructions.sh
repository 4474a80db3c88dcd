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
# output.
#   bench/instructions.sh [PROGRAM]   (default: build/release/report/tapsmith)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require valgrind
require gcc
require file
program=$(realpath "${1:-build/release/report/tapsmith}")
max_ratio=0.45
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

count() {  # count PROGRAM: instructions of `PROGRAM 9 1` in an empty environment
    env -i "$valgrind" --tool=callgrind --callgrind-out-file="$tmp/callgrind.out" "$1" 9 1 >/dev/null 2>"$tmp/callgrind.log"
    sed -n 's/.*I *refs: *//p' "$tmp/callgrind.log" | tr -d ,
}
instructions=$(count "$program")
reference=$(count "$tmp/reference")
floor=$(count "$tmp/floor")

env -i "$valgrind" --tool=massif --massif-out-file="$tmp/massif.out" "$program" 9 1 >/dev/null 2>/dev/null
heap=$(sed -n 's/^mem_heap_B=//p' "$tmp/massif.out" | sort -n | tail -1)

ratio=$(awk -v a="$instructions" -v b="$reference" 'BEGIN { printf "%.3f", a / b }')
echo "instructions (tapsmith 9 1): $instructions"
echo "instructions (plain C reference, gcc -O2): $reference"
echo "ratio tapsmith / reference: $ratio (at most $max_ratio)"
echo "instructions (the floor: a dynamically linked program that only writes $bytes bytes): $floor"
echo "peak heap (tapsmith 9 1): $heap bytes (budget $budget_heap)"
status=0
awk -v r="$ratio" -v m="$max_ratio" 'BEGIN { exit !(r <= m) }' || { echo "over the instruction budget"; status=1; }
[ "$heap" -le "$budget_heap" ] || { echo "over the heap budget"; status=1; }
exit "$status"
