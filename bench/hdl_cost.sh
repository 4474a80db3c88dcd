#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the filter cores cost and how fast they run: both cores (the VHDL one through ghdl --synth)
# synthesised with Yosys for N = 3, 5, 9, 15 at MAX_WIDTH 640 and 1920 (8-bit pixels, reflect101,
# taps from tapsmith-fixed with sigma N/5 and 8 bits), placed and routed on iCE40 HX8K (ct256) and
# UP5K (sg48, whose 39 pins take the core with width and height loaded serially, 32 flip-flops
# more) with nextpnr-ice40 (seed 1 unless its routing never converges), and synthesised for
# xc7; and N = 5, 1920 wide with RGB pixels (CHANNELS = 3) and with 2, 4 and 8 pixels a clock
# (PPC). One table row per core and size:
#   core N width channels ppc | iCE40 LUT4 FF BRAM MAC16 | HX8K Fmax | UP5K Fmax | xc7 LUT FF RAMB18 DSP48
# "no fit" where the design does not fit the part. Slow (tens of minutes); CI does not run it.
#   bench/hdl_cost.sh [BUILD_DIR] [CORE...]   (default build/release; cores sv vhdl)
# Environment: SIZES ("N:WIDTH[:CHANNELS[:PPC]] ..." to measure fewer), JOBS (parallel
# configurations).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require yosys
require ghdl
require nextpnr-ice40 nextpnr-ice40
top=$PWD
build=$(realpath "${1:-build/release}")
shift || true
cores=("$@")
[ ${#cores[@]} -gt 0 ] || cores=(sv vhdl)
program=$build/fixed/tapsmith-fixed
[ -x "$program" ] || { echo "build $build first (cmake --workflow --preset release)" >&2; exit 1; }
read -r -a sizes <<<"${SIZES:-3:640 3:1920 5:640 5:1920 9:640 9:1920 15:640 15:1920 5:1920:3 5:1920:1:2 5:1920:1:4 5:1920:1:8}"
jobs=${JOBS:-$(nproc)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Timing-driven against 100 MHz, the goal; the Fmax printed is what the routed design reaches.
# nextpnr-ice40 0.4's router now and then never converges for a placement: after 3 minutes the
# next seed is tried, and the seed is named when it is not 1.
fmax() {  # fmax DEVICE PACKAGE DIR: MHz, "no fit" or "unrouted"
    local log seed
    for seed in 1 2 3; do
        log=$3/pnr-$1-$seed.log
        if timeout 180 nextpnr-ice40 "--$1" --package "$2" --json "$3/netlist.json" --seed "$seed" --freq 100 \
            --timing-allow-fail >"$log" 2>&1; then
            printf '%s MHz%s\n' "$(grep -o "Max frequency for clock '[^']*': [0-9.]* MHz" "$log" | tail -n 1 |
                sed 's/.*: \([0-9.]*\) MHz/\1/')" "$([ "$seed" = 1 ] || echo " (seed $seed)")"
            return
        elif grep -q -i -e 'unable to' -e 'too many' -e 'failed to place' -e 'not enough' "$log"; then
            echo "no fit"
            return
        fi
    done
    echo "unrouted"
}

measure() {  # measure CORE N:WIDTH[:CHANNELS[:PPC]]: one table row in $work/row-CORE-SIZE
    local core=$1 n width channels ppc dir=$work/$1-$2 taps ice xc
    IFS=: read -r n width channels ppc <<<"$2"
    export CHANNELS=${channels:-1} PPC=${ppc:-1}
    sigma=$(awk -v n="$n" 'BEGIN { printf "%.1f", n / 5 }')
    read -r -a taps <<<"$("$program" --format=json "$n" "$sigma" | sed -n 's/^  "taps": \[\(.*\)\],$/\1/p' | tr -d ,)"
    ice=$(bash "$top/tests/hdl/core/synth_one.sh" "$core" ice40 "$dir/ice40" "$n" "$width" "${taps[@]}") || ice="failed"
    xc=$(bash "$top/tests/hdl/core/synth_one.sh" "$core" xc7 "$dir/xc7" "$n" "$width" "${taps[@]}") || xc="failed"
    local hx="-" up="-"
    if [ "$ice" != failed ]; then
        hx=$(fmax hx8k ct256 "$dir/ice40")
        if PINS=few bash "$top/tests/hdl/core/synth_one.sh" "$core" ice40 "$dir/ice40-pins" "$n" "$width" \
            "${taps[@]}" >/dev/null; then
            up=$(fmax up5k sg48 "$dir/ice40-pins")
        fi
    fi
    read -r l f b d _ <<<"$ice"
    read -r xl xf xb xd _ <<<"$xc"
    printf '| %s | %s | %s | %s | %s | %s / %s / %s / %s | %s | %s | %s / %s / %s / %s |\n' "$core" "$n" \
        "$width" "$CHANNELS" "$PPC" "$l" "$f" "$b" "$d" "$hx" "$up" "$xl" "$xf" "$xb" "$xd" >"$work/row-$core-$2"
}

running=0
for core in "${cores[@]}"; do
    for size in "${sizes[@]}"; do
        measure "$core" "$size" &
        running=$((running + 1))
        if [ "$running" -ge "$jobs" ]; then
            wait -n
            running=$((running - 1))
        fi
    done
done
wait
echo "| core | N | MAX_WIDTH | CHANNELS | PPC | iCE40 LUT4 / FF / BRAM / SB_MAC16 | HX8K Fmax | UP5K Fmax | xc7 LUT / FF / RAMB18 / DSP48 |"
echo "|---|---|---|---|---|---|---|---|---|"
for core in "${cores[@]}"; do
    for size in "${sizes[@]}"; do
        cat "$work/row-$core-$size"
    done
done
echo "(Yosys $(yosys -V | awk '{print $2}'), nextpnr-ice40 seed 1, xc7 LUT counts include Yosys's INV cells)"
