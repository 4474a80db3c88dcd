#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the VHDL core hdl/tapsmith_blur.vhd under GHDL against every CASE.cfg /
# CASE.vec pair of a directory (vectors from the golden model), through
# tests/hdl/core/tb_blur.vhd with random stalls on both streams (CASE_fullrate
# runs without stalls, each frame to start CASE_fullrate.period cycles after the
# last). The core and testbench are analysed once; each case elaborates with its
# own generics. WORK_DIR/timing has each case's output timing hash, for
# comparing simulators.
#   tests/hdl/core/vhdl_cosim.sh VECTOR_DIR WORK_DIR
# Environment: GHDL (default ghdl), SEED (default 1), JOBS (default: cores).
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 VECTOR_DIR WORK_DIR" >&2
    exit 2
fi
repo=$(cd "$(dirname "$0")/../../.." && pwd)
vectors=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
ghdl=${GHDL:-ghdl}
seed=${SEED:-1}
jobs=${JOBS:-$(nproc)}

cases=()
for cfg in "$vectors"/*.cfg; do
    [ -e "$cfg" ] || break
    cases+=("$(basename "$cfg" .cfg)")
done
if [ ${#cases[@]} -eq 0 ]; then
    echo "vhdl cosim: no *.cfg in $vectors" >&2
    exit 1
fi

rm -rf "${work:?}/lib" "${work:?}/log"
mkdir -p "$work/lib" "$work/log"
"$ghdl" -a --std=08 --workdir="$work/lib" "$repo/hdl/tapsmith_blur.vhd" "$repo/tests/hdl/core/tb_blur.vhd"
"$ghdl" -e --std=08 --workdir="$work/lib" tb_blur

# One case: its log in log/CASE, its verdict line in log/CASE.line.
run_case() {
    local name=$1 log="$work/log/$1" status=0 start end extra=()
    if [ -f "$vectors/$name.period" ]; then
        extra=(-gNOSTALL=true "-gPERIOD=$(cat "$vectors/$name.period")" "-gLATENCY=$(cat "$vectors/$name.latency")")
    fi
    start=$(date +%s%N)
    (cd "$work" && "$ghdl" -r --std=08 --workdir="$work/lib" tb_blur \
        "-gCFG_FILE=$vectors/$name.cfg" "-gVEC_FILE=$vectors/$name.vec" "-gSEED=$seed" "${extra[@]}" \
        --ieee-asserts=disable-at-0) \
        >"$log" 2>&1 || status=$?
    end=$(date +%s%N)
    local ms=$(((end - start) / 1000000))
    # a warning (a metavalue in numeric_std, say) counts as a failure too
    local result
    # Any warning fails (a truncated vector, say), except numeric_std's metavalue ones: registers
    # without reset hold 'U' until the pipeline fills, and an undefined value that mattered
    # would show in the beats the bench checks.
    if [ "$status" -eq 0 ] && result=$(grep -m1 '^PASS ' "$log") &&
        ! grep -v 'metavalue detected' "$log" | grep -q -e 'failure' -e 'error' -e 'warning'; then
        echo "ok   $name: ${result#PASS } (${ms} ms)" >"$log.line"
        echo "$name ${result##* }" >"$log.timing"
    else
        echo "FAIL $name (exit $status): $(grep -m 1 -e '^FAIL' -e 'failure' -e 'error' -e 'warning' "$log" || tail -n 1 "$log")" \
            >"$log.line"
    fi
}

running=0
for name in "${cases[@]}"; do
    run_case "$name" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

passed=0
failed=0
: >"$work/timing"
for name in "${cases[@]}"; do
    line=$(cat "$work/log/$name.line")
    echo "$line"
    [ ! -f "$work/log/$name.timing" ] || cat "$work/log/$name.timing" >>"$work/timing"
    if [ "${line:0:2}" = "ok" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
done
echo "vhdl cosim: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
