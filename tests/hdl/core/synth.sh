#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Synthesises hdl/tapsmith_blur.sv for iCE40 with Yosys, 8-bit pixels, lines up to 640, for a
# 5-tap and a 9-tap kernel (both summing to 256), and fails on any error, any problem `check`
# finds, any latch, or line buffers (N + 1) that did not become block RAM.
#   tests/hdl/core/synth.sh [WORK_DIR]   (default: a temporary directory)
# Prints one line per kernel with the LUT, flip-flop and block RAM counts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
core=$(realpath "$here/../../../hdl/tapsmith_blur.sv")
if [ $# -ge 1 ]; then
    mkdir -p "$1" || exit 2
    work=$(realpath "$1")
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi

# Tap i goes to bits 32i+31 .. 32i, so the hex digits list the last tap first.
taps_hex() {
    local hex="" i
    local -a taps=("$@")
    for ((i = ${#taps[@]} - 1; i >= 0; i--)); do
        hex+=$(printf '%08x' "${taps[i]}")
    done
    echo "$((32 * ${#taps[@]}))'h$hex"
}

kernels=("14 62 104 62 14" "1 8 28 56 70 56 28 8 1")
status=0
for kernel in "${kernels[@]}"; do
    read -r -a taps <<<"$kernel"
    n=${#taps[@]}
    log="$work/synth_n$n.log"
    script="read_verilog -sv $core
chparam -set N $n -set SHIFT 8 -set P 8 -set MAX_WIDTH 640 -set BORDER 0 -set TAPS $(taps_hex "${taps[@]}") tapsmith_blur
synth_ice40 -top tapsmith_blur
check -assert
stat"
    if ! yosys -p "$script" >"$log" 2>&1; then
        echo "FAIL N=$n: yosys failed, see $log"
        grep -o -m3 'ERROR: .*' "$log"
        status=1
        continue
    fi
    # Cell counts from the final statistics, the last "Printing statistics" section of the log.
    stats=$(awk '/Printing statistics/ { s = "" } { s = s $0 "\n" } END { printf "%s", s }' "$log")
    count() { awk -v pat="$1" '$1 ~ pat { n += $2 } END { print n + 0 }' <<<"$stats"; }
    luts=$(count '^SB_LUT4$')
    ffs=$(count '^SB_DFF')
    brams=$(count '^SB_RAM40_4K$')
    latches=$(grep -c '^Latch inferred' "$log")
    leftover=$(count 'DLATCH|^\$')
    line="N=$n: $luts SB_LUT4, $ffs SB_DFF*, $brams SB_RAM40_4K"
    if [ "$latches" -ne 0 ] || [ "$leftover" -ne 0 ]; then
        echo "FAIL $line; $latches latches inferred, $leftover unmapped cells"
        status=1
    elif [ "$brams" -lt $((n + 1)) ]; then
        echo "FAIL $line; the $((n + 1)) line buffers are not all in block RAM"
        status=1
    else
        echo "ok   $line"
    fi
done
exit "$status"
