#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The cores are one design written twice: every case's output beats must leave on the same
# cycles under every simulator. Compares the "case hash" lines the co-simulations wrote.
#   tests/hdl/core/same_timing.sh TIMING_FILE TIMING_FILE...
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 TIMING_FILE TIMING_FILE..." >&2
    exit 2
fi
# The first file must be the simulator that ran every case; the others may have run fewer.
first=$(sort "$1")
if [ -z "$first" ]; then
    echo "$1: no cases" >&2
    exit 1
fi
status=0
for other in "${@:2}"; do
    theirs=$(sort "$other")
    if [ -z "$theirs" ]; then
        echo "$other: no cases"
        status=1
    fi
    # Every case the other ran, with the same hash as in the first.
    if extra=$(comm -13 <(echo "$first") <(echo "$theirs")) && [ -n "$extra" ]; then
        echo "the output timing differs between $1 and $other:"
        echo "$extra" | while read -r name hash; do
            echo "  $name: $(grep "^$name " <<<"$first" || echo "$name not run") in $1, $hash in $other"
        done
        status=1
    fi
    echo "$other: $(echo "$theirs" | wc -l) cases"
done
[ "$status" -ne 0 ] || echo "same output timing under $# simulators ($(echo "$first" | wc -l) cases in $1)"
exit "$status"
