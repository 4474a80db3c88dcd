#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the VHDL core hdl/tapsmith_blur.vhd under GHDL against every CASE.cfg /
# CASE.vec pair of a directory (vectors from the golden model), through
# tests/hdl/core/tb_blur.vhd with random stalls on both streams. The core and
# testbench are analysed once; each case elaborates with its own generics.
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
    local name=$1 log="$work/log/$1" status=0 start end
    start=$(date +%s%N)
    (cd "$work" && "$ghdl" -r --std=08 --workdir="$work/lib" tb_blur \
        "-gCFG_FILE=$vectors/$name.cfg" "-gVEC_FILE=$vectors/$name.vec" "-gSEED=$seed" \
        --ieee-asserts=disable-at-0) \
        >"$log" 2>&1 || status=$?
    end=$(date +%s%N)
    local ms=$(((end - start) / 1000000))
    # a warning (a metavalue in numeric_std, say) counts as a failure too
    if [ "$status" -eq 0 ] && grep -q 'PASS' "$log" && ! grep -q -e 'failure' -e 'error' -e 'warning' "$log"; then
        echo "ok   $name: $(sed -n 's/.*(report note): \(PASS .*\)/\1/p' "$log") (${ms} ms)" >"$log.line"
    else
        echo "FAIL $name (exit $status): $(grep -m 1 -e 'failure' -e 'error' -e 'warning' "$log" || tail -n 1 "$log")" \
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
for name in "${cases[@]}"; do
    line=$(cat "$work/log/$name.line")
    echo "$line"
    if [ "${line:0:2}" = "ok" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
done
echo "vhdl cosim: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
