#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The generated C, SystemVerilog and VHDL, taken through the real tools: the
# C header compiled as C99 and C++17 with -Wall -Wextra -Werror and run, the
# SystemVerilog package linted by verilator -Wall and simulated by
# verilator --binary, the VHDL package analysed and run by ghdl. Each
# testbench prints the taps; they must equal the JSON output's taps.
#   tools/hdl_check.sh [PROGRAM]   (default: build/release/fixed/tapsmith-fixed)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/release/fixed/tapsmith-fixed}")
benches=$PWD/tests/hdl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cases=("5 1.0" "--bits=12 9 2.5" "1 1" "--bits=30 3 0.5" "--bits=1 9 100")
failures=0
for args in "${cases[@]}"; do
    # shellcheck disable=SC2086 # the arguments are meant to split
    expected=$("$program" --format=json $args | sed -n 's/^  "taps": \[\(.*\)\],$/\1/p' | tr -d ,)
    rm -rf ./*
    # shellcheck disable=SC2086
    "$program" --format=c $args >taps.h
    gcc -std=c99 -Wall -Wextra -Wpedantic -Werror -I. "$benches/taps.c" -o c99
    g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -I. -x c++ "$benches/taps.c" -o cxx
    c=$(./c99)
    cxx=$(./cxx)
    # shellcheck disable=SC2086
    "$program" --format=sv $args >gauss_pkg.sv
    lint=$(verilator --lint-only -Wall gauss_pkg.sv "$benches/tb.sv" --top-module tb 2>&1) || lint="$lint (failed)"
    verilator --binary -Wall gauss_pkg.sv "$benches/tb.sv" --top-module tb -Mdir sv >sv.log 2>&1 || cat sv.log
    sv=$(./sv/Vtb | head -n 1)
    # shellcheck disable=SC2086
    "$program" --format=vhdl $args >gauss_pkg.vhd
    ghdl -a --std=08 gauss_pkg.vhd "$benches/tb.vhd"
    ghdl -e --std=08 tb
    vhdl=$(ghdl -r --std=08 tb)
    if [ -n "$lint" ] || [ "$c" != "$expected" ] || [ "$cxx" != "$expected" ] || [ "$sv" != "$expected" ] ||
        [ "$vhdl" != "$expected" ]; then
        echo "FAIL $args: json '$expected', c '$c', c++ '$cxx', sv '$sv', vhdl '$vhdl' ${lint:+, lint: $lint}"
        failures=$((failures + 1))
    else
        echo "ok   $args: $expected (C99, C++17, verilator, ghdl)"
    fi
done
echo "hdl: $((${#cases[@]} - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
