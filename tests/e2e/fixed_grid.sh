#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# fixed_grid.sh REFERENCE PROGRAM...: tapsmith-fixed over a grid of sizes,
# sigmas, bit counts and samplings; every run must succeed with an empty
# standard error, and with a REFERENCE program (the native build, when
# PROGRAM runs under emulation; "" for none) print exactly what it prints.
set -u
reference=$1
shift
program=("$@")
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
runs=0
failures=0
for n in 1 3 5 7 9 31 127 auto; do
    for sigma in 0.3 0.8 1 2.5 40; do
        for bits in 1 8 16 30 auto; do
            for how in point area; do
                args=(-f json -b "$bits" -s "$how" "$n" "$sigma")
                runs=$((runs + 1))
                "${program[@]}" "${args[@]}" >"$tmp/out" 2>"$tmp/err"
                status=$?
                problem=""
                # auto may find no size for a wide sigma: a usage error, said the same way.
                [ "$status" -eq 0 ] || [ "$status" -eq 2 ] || problem="exit status $status"
                if [ -n "$reference" ]; then
                    "$reference" "${args[@]}" >"$tmp/ref" 2>"$tmp/referr"
                    cmp -s "$tmp/out" "$tmp/ref" && cmp -s "$tmp/err" "$tmp/referr" || problem="$problem; differs from the reference"
                fi
                if [ -n "$problem" ]; then
                    failures=$((failures + 1))
                    echo "FAIL tapsmith-fixed ${args[*]}: ${problem#; }"
                fi
            done
        done
    done
done
echo "fixed grid: $((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
