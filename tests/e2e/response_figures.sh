#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# response_figures.sh write|check DATA PROGRAM...: the frequency-response figures on a grid of sizes,
# sigmas, bits and samplings against DATA, written once by an earlier tapsmith-fixed whose
# cosines were worked out term by term: the text output byte for byte (its SHA-256; point
# sampling), the JSON figures and every 32nd row of the response CSV within 1e-12.
set -u
mode=$1
data=$2
shift 2
program=("$@")
rows() {
    local n sigma bits how
    for n in 1 3 5 9 15 31 63 127; do
        for sigma in 0.5 1.5 5 20; do
            for bits in 8 16 30; do
                for how in point area; do
                    [ "$how" = area ] && [ "$bits" != 16 ] && continue
                    args="-b $bits -s $how $n $sigma"
                    # Area samples come from libm's erfc, whose last bits differ between
                    # architectures, and the text shows a Nyquist gain that is rounding noise:
                    # for them the numbers alone, within 1e-12.
                    if [ "$how" = point ]; then
                        # shellcheck disable=SC2086 # the arguments are meant to split
                        printf 'text|%s|%s\n' "$args" "$("${program[@]}" $args | sha256sum | cut -c1-64)"
                    fi
                    # shellcheck disable=SC2086
                    printf 'json|%s|%s\n' "$args" "$("${program[@]}" -f json $args |
                        sed -n 's/^  "\(max_error\|mask_max_error\|worst_error_1d\|worst_error_2d\|nyquist_gain\|float_nyquist_gain\|response_max_deviation\)": \(.*\),$/\2/p' |
                        tr '\n' ' ')"
                    if [ "$bits" = 16 ]; then
                        # shellcheck disable=SC2086
                        printf 'csv|%s|%s\n' "$args" "$("${program[@]}" -f response $args | awk 'NR > 1 && (NR - 2) % 32 == 0' |
                            tr '\n' ' ')"
                    fi
                done
            done
        done
    done
}
if [ "$mode" = write ]; then
    rows
    exit
fi
rows | awk -F'|' -v data="$data" '
    function near(a, b,   x, y, i, n, m) {
        gsub(/,/, " ", a); gsub(/,/, " ", b)
        n = split(a, x, " "); m = split(b, y, " ")
        if (n != m) return 0
        for (i = 1; i <= n; i++) if (x[i] != y[i] && (x[i] - y[i] > 1e-12 || y[i] - x[i] > 1e-12)) return 0
        return 1
    }
    BEGIN { while ((getline line < data) > 0) { split(line, f, "|"); want[f[1] "|" f[2]] = f[3]; count++ } }
    {
        key = $1 "|" $2; rows++
        if (!(key in want)) { print "no reference for " key; bad++; next }
        if ($1 == "text" ? $3 != want[key] : !near($3, want[key])) { print "differs: " key; print "  now:   " $3; print "  was:   " want[key]; bad++ }
    }
    END {
        printf "response figures: %d rows, %d differ\n", rows, bad
        exit (bad > 0 || rows != count || rows == 0)
    }'
