#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Co-simulates hdl/tapsmith_blur.sv against golden-model vectors with Verilator.
#   tests/hdl/core/sv_cosim.sh VECTOR_DIR WORK_DIR
# VECTOR_DIR holds CASE.cfg / CASE.vec pairs. Cases sharing a configuration share one compiled
# bench (compiling dominates the run time). The core must also pass verilator -Wall lint, with its
# defaults and with each configuration. One line per case, then a total; non-zero exit on any
# failure.
set -uo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 VECTOR_DIR WORK_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
core=$(realpath "$here/../../../hdl/tapsmith_blur.sv")
bench=$here/tb_blur.sv
vectors=$(realpath "$1")
mkdir -p "$2" || exit 2
work=$(realpath "$2")
# A failing bench ends in $fatal, which aborts: no core files.
ulimit -c 0

passed=0
failed=0
fail() {
    echo "FAIL $1"
    failed=$((failed + 1))
}

if lint=$(verilator --lint-only -Wall "$core" 2>&1); then
    echo "ok   lint: verilator -Wall, default parameters"
    passed=$((passed + 1))
else
    fail "lint: verilator -Wall, default parameters"
    echo "$lint"
fi

# Configurations in a stable order, each with its cases.
declare -A cases=()
shopt -s nullglob
for cfg in "$vectors"/*.cfg; do
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
    verilator --main --exe --timing -O1 --x-assign fast --x-initial fast -Wall -Wno-BLKSEQ \
        --top-module tb_blur "$@" "$core" "$bench" -Mdir "$dir" || return 1
    if [ -n "$runtime_objs" ]; then
        cp "$runtime_objs"/verilated*.[od] "$dir"/ || return 1
    fi
    make -C "$dir" -j 2 -f Vtb_blur.mk
}
for key in "${keys[@]}"; do
    read -r -a items <<<"$key"
    read -r -a names <<<"${cases[$key]}"
    # N SHIFT P BORDER MAX_WIDTH t0 .. t(N-1), all small decimal numbers.
    if [[ ! "$key" =~ ^[0-9]{1,10}( [0-9]{1,10})*$ ]] || [ ${#items[@]} -lt 6 ] ||
        [ ${#items[@]} -ne $((10#${items[0]} + 5)) ]; then
        for name in "${names[@]}"; do fail "$name: malformed configuration '$key'"; done
        continue
    fi
    n=$((10#${items[0]}))
    taps=""
    for ((i = n - 1; i >= 0; i--)); do
        taps+=$(printf '%08x' "$((10#${items[5 + i]}))")
    done
    params=(-GN="$n" -GSHIFT="$((10#${items[1]}))" -GP="$((10#${items[2]}))"
        -GBORDER="$((10#${items[3]}))" -GMAX_WIDTH="$((10#${items[4]}))" -GTAPS="$((32 * n))'h$taps")
    dir="$work/cfg_$(printf '%s' "$key" | cksum | cut -d' ' -f1)"
    mkdir -p "$dir"

    if ! lint=$(verilator --lint-only -Wall "${params[@]}" "$core" 2>&1); then
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
    runtime_objs=$dir
    for name in "${names[@]}"; do
        log="$dir/$name.log"
        if "$dir/Vtb_blur" +cfg="$vectors/$name.cfg" +vec="$vectors/$name.vec" >"$log" 2>&1 &&
            result=$(grep -m1 '^PASS ' "$log"); then
            echo "ok   $name: ${result#PASS }"
            passed=$((passed + 1))
        else
            reason=$(grep -m1 '^FAIL ' "$log" || tail -n 1 "$log")
            fail "$name: ${reason#FAIL } (log $log)"
        fi
    done
done
echo "sv cosim: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
