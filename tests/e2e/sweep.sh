#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# sweep.sh REFERENCE PROGRAM...: runs the program (which may be several
# words: an emulator and the program) over a grid of awkward arguments and
# checks, for every run, exit status 0, an empty standard error and the
# report's shape: every heading in order, as many lines as n asks for and n
# integer fields in every table row. With a REFERENCE program (the native
# build, when PROGRAM runs under emulation; "" for none) every report must
# also equal the reference's, up to the sign of a NaN.
set -u
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
reference=$1
shift
program=("$@")

# dim_mask as given, then the tap count it must read as.
dims=()
for v in $(seq -3 12); do dims+=("$v|$((v > 9 ? 9 : v))"); done
dims+=("|0" "abc|0" "3.7|3" "8abc|8" " 7|7" "+7|7" "-0|0" "99999999999|9"
       "-99999999999|-2147483648" "0x5|0")
sigmas=(0 -0 -1 5e-324 1e-300 0.05 0.1 0.3 0.8 1 2.5 100 1e308 inf -inf nan 0x1p-3 junk "")

# The report reduced to its skeleton: values dropped after '=', table rows
# replaced by their field count.
shape_of() {
    awk '/^( *-?[0-9]+ )+$/ { print "ROW " NF; next }
         { sub(/=.*/, "="); print }'
}

expected_shape() {
    local k=$(( $1 > 0 ? $1 : 0 )) i
    rows() { for ((i = 0; i < k; i++)); do echo "ROW $k"; done; }
    taps() { for ((i = 0; i < k; i++)); do echo "$1[$i]="; done; }
    printf 'Program launched with\n  n=\n  sigma=\n\n'
    echo "Calculate integer approximated coefficients for gaussian filter."; taps gf
    echo "Get coefficients as calculated with default OpenCV functions:"; taps "-d: GF"
    echo "Get integer approximated coefficients:"; taps "-d: GI"
    printf 'Normalization factor (1D) =\n\nGaussian filter mask:\n'; rows
    printf 'Normalization factor (2D) =\n\nRounded to pow-of-2 Gaussian filter mask:\n'; rows
    printf 'Appr normalization factor (2D) =\n\n\n%s\n\n\nErrors (mask - pow2_mask)\n' \
        "----------------------------------------------------"; rows
    printf '\n\nSSE(mask, mask2)=\nTest:\n'; rows
    echo
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
runs=0
failures=0
for dim in "${dims[@]}"; do
    arg=${dim%|*}
    n=${dim##*|}
    expected_shape "$n" >"$tmp/expected"
    for sigma in "${sigmas[@]}"; do
        runs=$((runs + 1))
        "${program[@]}" "$arg" "$sigma" >"$tmp/out" 2>"$tmp/err"
        status=$?
        problem=""
        [ "$status" -eq 0 ] || problem="exit status $status"
        [ -s "$tmp/err" ] && problem="$problem; stderr: $(head -c 300 "$tmp/err")"
        grep -qx "  n=$n" "$tmp/out" || problem="$problem; n is not $n"
        # Integers where the report prints integers.
        if grep -Ev '^(-d: GI\[[0-9]\]=-?[0-9]+|.*factor.*= -?[0-9]+( - rounded -?[0-9]+ - rel_error = .*)?|SSE\(mask, mask2\)=-?[0-9]+)$' \
            "$tmp/out" | grep -Eq 'GI\[|factor|SSE'; then
            problem="$problem; a non-integer where an integer belongs"
        fi
        if ! shape_of <"$tmp/out" | diff -q "$tmp/expected" - >/dev/null; then
            problem="$problem; shape differs: $(shape_of <"$tmp/out" | diff "$tmp/expected" - | head -5 | tr '\n' ' ')"
        fi
        if [ -n "$reference" ] && ! cmp -s <(nan_sign "$tmp/out") <("$reference" "$arg" "$sigma" | nan_sign); then
            problem="$problem; differs from the reference: $(diff <("$reference" "$arg" "$sigma") "$tmp/out" | head -4 | tr '\n' ' ')"
        fi
        if [ -n "$problem" ]; then
            failures=$((failures + 1))
            echo "FAIL tapsmith '$arg' '$sigma': ${problem#; }"
        fi
    done
done
echo "sweep: $((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
