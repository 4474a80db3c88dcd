#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Each check script, run on a machine without one tool it needs, stops at
# once and names the tool and the package to install, instead of exiting
# without a word. The tool is hidden by a PATH that holds every other
# program of the system's, and a stand-in for each other tool the scripts
# require that this machine lacks (the scripts check before they run any).
#   tests/e2e/missing_tools.sh SOURCE_DIR
set -uo pipefail
top=$1
path=$(mktemp -d)
trap 'rm -rf "$path"' EXIT

rows=(
    # script             tool hidden    arguments
    "bench/instructions.sh valgrind"
    "tools/memcheck.sh valgrind"
    "tools/lint.sh shellcheck"
    "tools/package_check.sh lintian"
    "tools/package_check.sh hardening-check"
    "tools/fuzz.sh clang++"
    "tools/cross_check.sh qemu-s390x s390x"
    "tools/shared_check.sh readelf"
    "tools/consumer_check.sh pkg-config"
    "python/asan_check.sh clang++ build-dir"
)
# What the scripts require by name, and the cross compiler the row needs.
mapfile -t wanted < <(sed -n 's/^ *require \([^ "$]*\).*/\1/p' "$top"/tools/*.sh "$top"/bench/*.sh \
    "$top"/python/*.sh | sort -u)
wanted+=(s390x-linux-gnu-g++)
# Every program once (the first of a name wins, as on PATH), then the
# stand-ins; each row puts its tool aside while its script runs.
for dir in /usr/local/bin /usr/bin /bin; do
    ln -s "$dir"/* "$path"/ 2>/dev/null
done
for name in "${wanted[@]}"; do
    if [ ! -e "$path/$name" ]; then
        printf '#!/bin/sh\necho "stand-in for %s run" >&2; exit 99\n' "$name" >"$path/$name"
        chmod +x "$path/$name"
    fi
done
aside=$(mktemp -d)
trap 'rm -rf "$path" "$aside"' EXIT
failed=0
for row in "${rows[@]}"; do
    read -r script tool args <<<"$row"
    mv "$path/$tool" "$aside/"
    # shellcheck disable=SC2086 # the arguments are meant to split
    err=$(PATH=$path "$top/$script" $args 2>&1 >/dev/null)
    status=$?
    mv "$aside/$tool" "$path/"
    if [ "$status" -ne 0 ] && grep -q "needs $tool, which is not installed: apt-get install" <<<"$err"; then
        echo "ok   $script without $tool"
    else
        echo "FAIL $script without $tool: status $status, said '$err'"
        failed=$((failed + 1))
    fi
done
[ "$failed" -eq 0 ]
