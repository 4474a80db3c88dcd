#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# fixed_grid.sh REFERENCE PROGRAM...: tapsmith-fixed over a grid of sizes,
# sigmas, bit counts and samplings; every run must succeed or be a usage
# error, and with a REFERENCE program (the native build, when PROGRAM runs
# under emulation; "" for none) print exactly what it prints. Area samples
# come from the C library's erfc, whose last bit differs between
# architectures (some builds of it fuse multiplies and adds): for them the
# integers must agree (taps, mask, sums, widths) and the floating-point
# figures may differ in their last digits.
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
                    if [ "$how" = area ]; then
                        floats='"(max_error|mask_max_error|worst_error_1d|worst_error_2d|nyquist_gain|float_nyquist_gain|response_max_deviation)"'
                        grep -Ev "$floats" "$tmp/out" >"$tmp/out.int"
                        grep -Ev "$floats" "$tmp/ref" >"$tmp/ref.int"
                        mv "$tmp/out.int" "$tmp/out"
                        mv "$tmp/ref.int" "$tmp/ref"
                    fi
                    if ! cmp -s "$tmp/out" "$tmp/ref" || ! cmp -s "$tmp/err" "$tmp/referr"; then
                        problem="$problem; differs from the reference"
                    fi
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
