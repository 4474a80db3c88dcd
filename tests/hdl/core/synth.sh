#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Synthesises both cores (the VHDL one through ghdl --synth) for iCE40 and xc7 with Yosys, 5 taps,
# and the SystemVerilog one at 8 pixels a beat for xc7,
# 8-bit pixels, lines up to 1920, and fails on any error, any problem `check` finds, any latch,
# any multiplier block, any cell left unmapped, or line buffers (N - 1) that are not all in block
# RAM. One line per core and target with its cells.
#   tests/hdl/core/synth.sh [WORK_DIR]   (default: a temporary directory)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ge 1 ]; then
    mkdir -p "$1" || exit 2
    work=$(realpath "$1")
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi

taps=(14 62 104 62 14)
buffers=$((${#taps[@]} - 1))
status=0
# Each core for both targets at one pixel a beat, and the SystemVerilog one at eight for xc7.
for run in "sv ice40 1" "sv xc7 1" "vhdl ice40 1" "vhdl xc7 1" "sv xc7 8"; do
    read -r lang target ppc <<<"$run"
    name="$lang $target N=${#taps[@]} PPC=$ppc"
    if ! cells=$(PPC=$ppc bash "$here/synth_one.sh" "$lang" "$target" "$work/$lang-$target-$ppc" "${#taps[@]}" \
        1920 "${taps[@]}"); then
        echo "FAIL $name: synthesis failed, see $work/$lang-$target-$ppc"
        status=1
        continue
    fi
    read -r luts ffs brams dsps latches carries other <<<"$cells"
    line="$name: $luts LUT, $ffs FF, $brams block RAM, $dsps DSP, $carries carry"
    if [ "$dsps" -ne 0 ] || [ "$latches" -ne 0 ] || [ "$other" -ne 0 ]; then
        echo "FAIL $line; $latches latches, $other cells unmapped"
        status=1
    elif [ "$brams" -lt "$buffers" ]; then
        echo "FAIL $line; the $buffers line buffers are not all in block RAM"
        status=1
    else
        echo "ok   $line"
    fi
done
exit "$status"
