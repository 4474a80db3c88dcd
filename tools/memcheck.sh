#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the release programs under valgrind's memcheck for a few argument
# sets each; any error or any leak fails.
#   tools/memcheck.sh [BUILD_DIR]   (default: build/release)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=tools/require.sh
. tools/require.sh
require valgrind
require file
build=${1:-build/release}
status=0
run() {  # run PROGRAM ARGUMENTS
    local suppressions=()
    [ "$1" = report/tapsmith ] || suppressions=(--suppressions=tools/valgrind.supp)
    # shellcheck disable=SC2086 # the arguments are meant to split
    valgrind -q --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all --error-exitcode=99 \
        "${suppressions[@]}" --log-file="$build/memcheck.log" "$build/$1" $2 >/dev/null 2>&1
    if [ $? -ne 99 ] && [ ! -s "$build/memcheck.log" ]; then
        echo "memcheck: $(basename "$1") $2: clean"
    else
        cat "$build/memcheck.log"
        echo "memcheck: $(basename "$1") $2: FAILED"
        status=1
    fi
}
for args in "" "5 1" "9 1" "0" "-h" "9 0.1" "-100000"; do
    run report/tapsmith "$args"
done
for args in "5 1.0" "-f json -b 30 9 0.5" "-f c 3 1" "-f sv 7 2" "-f vhdl 1 1" "--help" "4 1" "5 1e-300" \
    "--bits=auto auto 2.3" "-s area -f json 127 20" "-f svg 31 4" "-f response 9 1.5" "-b auto -p 32 127 0.3"; do
    run fixed/tapsmith-fixed "$args"
done
# --apply on the fuzzer's seed images: grey, RGB, palette, 16-bit, and a
# file that is no PNG.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for image in fuzz/corpus/png/*; do
    run fixed/tapsmith-fixed "--apply=$image --output=$scratch/out.png --vectors=$scratch/v 5 1.0"
    # Without --vectors the output rows go round a ring; one thread reads while two filter.
    run fixed/tapsmith-fixed "--apply=$image --output=$scratch/out.png --threads=3 3 0.8"
done
run fixed/tapsmith-fixed "--apply=tools/memcheck.sh --output=$scratch/out.png 5 1.0"
exit "$status"
