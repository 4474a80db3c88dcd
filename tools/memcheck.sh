#!/usr/bin/env bash
# Runs the release binary under valgrind's memcheck for a few argument sets;
# any error or any leak fails.
set -uo pipefail
program=${1:-build/release/report/tapsmith}
status=0
for args in "" "5 1" "9 1" "0" "-h" "9 0.1" "-100000"; do
    # shellcheck disable=SC2086 # the arguments are meant to split
    if valgrind -q --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
        --error-exitcode=1 "$program" $args >/dev/null; then
        echo "memcheck: tapsmith $args: clean"
    else
        echo "memcheck: tapsmith $args: FAILED"
        status=1
    fi
done
exit "$status"
