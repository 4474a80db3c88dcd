#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# usage_errors.sh TABLE PROGRAM...: every row of TABLE (arguments as shell words, '|', the
# expected first line on standard error) must exit with status 2, print
# nothing on standard output and exactly that line and the --help hint on
# standard error.
set -u
table=$1
shift
program=("$@")
hint="Try 'tapsmith-fixed --help' for more information."
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
runs=0
failures=0
while IFS='|' read -r args message; do
    case $args in \#*) continue ;; esac
    runs=$((runs + 1))
    eval "set -- $args"
    "${program[@]}" "$@" >"$tmp/out" 2>"$tmp/err"
    status=$?
    if [ "$status" -ne 2 ] || [ -s "$tmp/out" ] || [ "$(cat "$tmp/err")" != "$message"$'\n'"$hint" ]; then
        failures=$((failures + 1))
        echo "FAIL '$args': status $status, stdout $(wc -c <"$tmp/out") bytes, stderr: $(cat "$tmp/err")"
    fi
done <"$table"
echo "usage errors: $((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ] && [ "$runs" -gt 0 ]
