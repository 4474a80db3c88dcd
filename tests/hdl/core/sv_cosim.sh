#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Co-simulates hdl/tapsmith_blur.sv against golden-model vectors with Verilator or Icarus Verilog.
#   tests/hdl/core/sv_cosim.sh VECTOR_DIR WORK_DIR [verilator|icarus [CASE_GLOB]]   (default verilator, *)
# VECTOR_DIR holds CASE.cfg / CASE.vec pairs (and CASE_fullrate.* runs, replayed without stalls,
# each frame to start CASE_fullrate.period cycles after the last, the first beat to leave as
# CASE_fullrate.latency says). Cases sharing a configuration
# share one compiled bench (compiling dominates the run time). With Verilator the core must also
# pass verilator -Wall lint, with its defaults and with each configuration; with Icarus it must
# compile without a warning. One line per case, then a total; WORK_DIR/timing has each case's
# output timing hash, for comparing simulators. Non-zero exit on any failure.
set -uo pipefail
if [ $# -lt 2 ] || [ $# -gt 4 ]; then
    echo "usage: $0 VECTOR_DIR WORK_DIR [verilator|icarus [CASE_GLOB]]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
core=$(realpath "$here/../../../hdl/tapsmith_blur.sv")
bench=$here/tb_blur.sv
vectors=$(realpath "$1")
mkdir -p "$2" || exit 2
work=$(realpath "$2")
sim=${3:-verilator}
glob=${4:-*}   # the cases to run, so that a slow simulator's share can be split in two
# A failing bench ends in $fatal, which aborts: no core files.
ulimit -c 0

passed=0
failed=0
fail() {
    echo "FAIL $1"
    failed=$((failed + 1))
}
: >"$work/timing"

if [ "$sim" = verilator ]; then
    if lint=$(verilator --lint-only -Wall "$core" 2>&1); then
        echo "ok   lint: verilator -Wall, default parameters"
        passed=$((passed + 1))
    else
        fail "lint: verilator -Wall, default parameters"
        echo "$lint"
    fi
fi

# Configurations in a stable order, each with its cases.
declare -A cases=()
shopt -s nullglob
for cfg in "$vectors"/$glob.cfg; do
    read -r -a items <"$cfg" || true
    key="${items[*]}"
    cases[$key]+="$(basename "$cfg" .cfg) "
done
if [ ${#cases[@]} -eq 0 ]; then
    echo "no *.cfg in $vectors" >&2
    exit 2
fi
mapfile -t keys < <(printf '%s\n' "${!cases[@]}" | sort)

runtime_objs=""
build() {
    local dir=$1
    shift
    if [ "$sim" = icarus ]; then
        # iverilog sets parameters by hierarchical name, values as Verilog constants.
        local defs=() p
        for p in "$@"; do defs+=(-P "tb_blur.${p#-G}"); done
        iverilog -g2012 -Wall -o "$dir/tb_blur.vvp" "${defs[@]}" "$core" "$bench" >"$dir/compile.log" 2>&1 &&
            [ ! -s "$dir/compile.log" ]
        return
    fi
    verilator --main --exe --timing -O1 --x-assign fast --x-initial fast -Wall -Wno-BLKSEQ \
        --top-module tb_blur "$@" "$core" "$bench" -Mdir "$dir" || return 1
    if [ -n "$runtime_objs" ]; then
        cp "$runtime_objs"/verilated*.[od] "$dir"/ || return 1
    fi
    make -C "$dir" -j 2 -f Vtb_blur.mk
}
run() {
    if [ "$sim" = icarus ]; then
        vvp -n "$1/tb_blur.vvp" "${@:2}"
    else
        "$1/Vtb_blur" "${@:2}"
    fi
}

for key in "${keys[@]}"; do
    read -r -a items <<<"$key"
    read -r -a names <<<"${cases[$key]}"
    # N SHIFT P BORDER MAX_WIDTH CHANNELS ALPHA PPC t0 .. t(N-1), all small decimal numbers.
    if [[ ! "$key" =~ ^[0-9]{1,10}( [0-9]{1,10})*$ ]] || [ ${#items[@]} -lt 9 ] ||
        [ ${#items[@]} -ne $((10#${items[0]} + 8)) ]; then
        for name in "${names[@]}"; do fail "$name: malformed configuration '$key'"; done
        continue
    fi
    n=$((10#${items[0]}))
    taps=""
    for ((i = n - 1; i >= 0; i--)); do
        taps+=$(printf '%08x' "$((10#${items[8 + i]}))")
    done
    params=(-GN="$n" -GSHIFT="$((10#${items[1]}))" -GP="$((10#${items[2]}))"
        -GBORDER="$((10#${items[3]}))" -GMAX_WIDTH="$((10#${items[4]}))" -GCHANNELS="$((10#${items[5]}))"
        -GALPHA="$((10#${items[6]}))" -GPPC="$((10#${items[7]}))" -GTAPS="$((32 * n))'h$taps")
    dir="$work/cfg_$(printf '%s' "$key" | cksum | cut -d' ' -f1)"
    mkdir -p "$dir"

    if [ "$sim" = verilator ] && ! lint=$(verilator --lint-only -Wall "${params[@]}" "$core" 2>&1); then
        for name in "${names[@]}"; do fail "$name: lint with $key"; done
        echo "$lint"
        continue
    fi
    # The Verilator runtime objects are the same for every configuration and take most of the
    # compile time: build them once, and copy them in after the generated makefile (they depend
    # on it) so make takes them as up to date.
    if ! build "$dir" "${params[@]}" >"$dir/build.log" 2>&1; then
        for name in "${names[@]}"; do fail "$name: build with $key, see $dir/build.log"; done
        continue
    fi
    [ "$sim" = icarus ] || runtime_objs=$dir
    for name in "${names[@]}"; do
        log="$dir/$name.log"
        extra=()
        if [ -f "$vectors/$name.period" ]; then
            extra=(+nostall "+period=$(cat "$vectors/$name.period")" "+latency=$(cat "$vectors/$name.latency")")
        fi
        if run "$dir" +cfg="$vectors/$name.cfg" +vec="$vectors/$name.vec" "${extra[@]}" >"$log" 2>&1 &&
            result=$(grep -m1 '^PASS ' "$log"); then
            echo "ok   $name: ${result#PASS }"
            echo "$name ${result##* }" >>"$work/timing"
            passed=$((passed + 1))
        else
            reason=$(grep -m1 '^FAIL ' "$log" || tail -n 1 "$log")
            fail "$name: ${reason#FAIL } (log $log)"
        fi
    done
done
echo "$sim cosim: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
