#!/bin/sh
# SPDX-License-Identifier: MIT
# check.sh EXPECTED PROGRAM [ARG...]: the program's standard output must
# equal EXPECTED byte for byte (up to the sign of a NaN where
# TAPSMITH_NAN_ANY_SIGN is set), its standard error must be empty and its
# exit status 0. PROGRAM may be several words (an emulator and the program).
# shellcheck source=tests/e2e/lib.sh
. "$(dirname "$0")/lib.sh"
expected=$1
shift
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
"$@" >"$tmp/out" 2>"$tmp/err"
status=$?
fail=0
if [ "$status" -ne 0 ]; then
    echo "exit status $status, expected 0"
    fail=1
fi
if [ -s "$tmp/err" ]; then
    echo "standard error is not empty:"
    cat "$tmp/err"
    fail=1
fi
nan_sign "$expected" >"$tmp/expected"
nan_sign "$tmp/out" >"$tmp/got"
if ! cmp -s "$tmp/expected" "$tmp/got"; then
    echo "standard output differs from $expected:"
    diff "$expected" "$tmp/out" | head -40
    fail=1
fi
exit $fail
