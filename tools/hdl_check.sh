#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The hardware side, through the real tools.
# 1. The generated C, SystemVerilog and VHDL for n = 1, 9, 31 and 127 (and a
#    few more): the C header compiled as C99 and C++17 with -Wall -Wextra
#    -Werror and run, the SystemVerilog package linted by verilator -Wall and
#    simulated by verilator --binary, the VHDL package analysed and run by
#    ghdl, each package plugged into its filter core. Each testbench prints
#    the taps and the adder plan; they must equal the JSON and text outputs',
#    and the SystemVerilog core's own count of its adders must agree.
# 2. Synthesis of both cores (the VHDL one through ghdl --synth) with Yosys
#    for iCE40 and xc7: no multiplier, no latch, line buffers in block RAM.
# (The co-simulations of both cores run in the README's test command.)
#   tools/hdl_check.sh [BUILD_DIR]   (default: build/test)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=$(realpath "${1:-build/test}")
program=$build/fixed/tapsmith-fixed
if [ ! -x "$program" ]; then
    echo "hdl: build the test preset first"
    exit 1
fi
benches=$top/tests/hdl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

cases=("5 1.0" "1 1" "9 2.5 --bits=12" "31 5 -s area" "127 20 --bits=16" "3 0.5 --bits=30" "9 100 --bits=1")
for args in "${cases[@]}"; do
    dir=$work/packages
    rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
    # shellcheck disable=SC2086 # the arguments are meant to split
    expected=$("$program" --format=json $args | sed -n 's/^  "taps": \[\(.*\)\],$/\1/p' | tr -d ,)
    # The adder plan as the text output gives it: PRE DIGIT TREE TOTAL.
    # shellcheck disable=SC2086
    plan=$("$program" $args | sed -n 's/^adders: *\([0-9]*\) a pass without multipliers (\([0-9]*\) pre-adds\{0,1\}, \([0-9]*\) for .*, \([0-9]*\) in the tree)$/\2 \3 \4 \1/p')
    # shellcheck disable=SC2086
    "$program" --format=c $args >taps.h
    gcc -std=c99 -Wall -Wextra -Wpedantic -Werror -I. "$benches/taps.c" -o c99
    g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -I. -x c++ "$benches/taps.c" -o cxx
    c=$(./c99)
    cxx=$(./cxx)
    # shellcheck disable=SC2086
    "$program" --format=sv $args >gauss_pkg.sv
    lint=$(verilator --lint-only -Wall -Wno-UNUSEDSIGNAL gauss_pkg.sv "$top/hdl/tapsmith_blur.sv" "$benches/tb.sv" \
        --top-module tb 2>&1) || lint="$lint (failed)"
    verilator --binary -Wno-fatal gauss_pkg.sv "$top/hdl/tapsmith_blur.sv" "$benches/tb.sv" --top-module tb \
        -Mdir sv >sv.log 2>&1 || cat sv.log
    sv_out=$(./sv/Vtb)
    sv=$(sed -n 1p <<<"$sv_out")
    sv_plan=$(sed -n 2p <<<"$sv_out")
    core_plan=$(sed -n 3p <<<"$sv_out")
    # shellcheck disable=SC2086
    "$program" --format=vhdl $args >gauss_pkg.vhd
    ghdl -a --std=08 gauss_pkg.vhd "$top/hdl/tapsmith_blur.vhd" "$benches/tb.vhd"
    ghdl -e --std=08 tb
    vhdl_out=$(ghdl -r --std=08 tb --ieee-asserts=disable-at-0)
    vhdl=$(sed -n 1p <<<"$vhdl_out")
    vhdl_plan=$(sed -n 2p <<<"$vhdl_out")
    cd "$top"
    if [ -n "$lint" ] || [ "$c" != "$expected" ] || [ "$cxx" != "$expected" ] || [ "$sv" != "$expected" ] ||
        [ "$vhdl" != "$expected" ] || [ -z "$plan" ] || [ "$sv_plan" != "$plan" ] || [ "$vhdl_plan" != "$plan" ] || [ "$core_plan" != "$plan" ]; then
        echo "FAIL $args: json '$expected', c '$c', c++ '$cxx', sv '$sv', vhdl '$vhdl', adders '$plan', sv '$sv_plan', vhdl '$vhdl_plan', core '$core_plan' ${lint:+, lint: $lint}"
        failures=$((failures + 1))
    else
        echo "ok   $args: ${expected:0:60}$([ ${#expected} -gt 60 ] && echo ...) (C99, C++17, verilator, ghdl)"
    fi
done
echo "packages: $((${#cases[@]} - failures)) passed, $failures failed"

tests/hdl/core/synth.sh "$work/synth" || failures=$((failures + 1))
echo "hdl: $failures failed"
[ "$failures" -eq 0 ]
