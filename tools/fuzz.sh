#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz preset and runs each libFuzzer target for a bounded time
# (seconds, default 60) from the checked-in seeds. New inputs go to a
# scratch folder, so the seeds stay as they are. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require cmake
require ninja ninja-build
require clang++ clang libclang-rt-14-dev
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in kernel_fuzz args_fuzz fixed_args_fuzz png_fuzz; do
    scratch=$(mktemp -d)
    corpus=fuzz/corpus/${target%_fuzz}
    echo "== $target for ${seconds}s"
    log="$scratch.log"
    status=0
    mkdir -p build/fuzz/artifacts
    "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/artifacts/ "$scratch" "$corpus" \
        >"$log" 2>&1 || status=$?
    grep -E '^stat::number_of_executed_units' "$log" || true
    rm -rf "$scratch"
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log"
        echo "$target: FAILED (status $status)"
        exit 1
    fi
    rm -f "$log"
done
echo "fuzz: no findings"
