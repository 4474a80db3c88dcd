#!/bin/sh
# SPDX-License-Identifier: MIT
# write_error.sh TAPSMITH TAPSMITH_FIXED: output that cannot be written must
# end with exit status 1 and one line on standard error naming the system's
# error.
tapsmith=$1
fixed=$2
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
fail=0

expect() {  # expect NAME STATUS MESSAGE: compares the last run's outcome
    if [ "$status" -ne "$2" ] || [ "$(cat "$tmp/err")" != "$3" ] || [ "$(wc -l <"$tmp/err")" -ne "$(printf '%s' "$3" | grep -c '^')" ]; then
        echo "FAIL $1: status $status, stderr: $(cat "$tmp/err")"
        fail=1
    fi
}

"$tapsmith" 5 1 >/dev/full 2>"$tmp/err"; status=$?
expect "full device" 1 "tapsmith: write error: No space left on device"
"$tapsmith" -h >/dev/full 2>"$tmp/err"; status=$?
expect "help to a full device" 1 "tapsmith: write error: No space left on device"
"$tapsmith" 9 1 >&- 2>"$tmp/err"; status=$?
expect "closed stdout" 1 "tapsmith: write error: Bad file descriptor"
"$tapsmith" 9 1 >/dev/null 2>"$tmp/err"; status=$?
expect "a normal run" 0 ""
"$fixed" -f json 9 1 >/dev/full 2>"$tmp/err"; status=$?
expect "tapsmith-fixed to a full device" 1 "tapsmith-fixed: write error: No space left on device"
"$fixed" --help >&- 2>"$tmp/err"; status=$?
expect "tapsmith-fixed --help to a closed stdout" 1 "tapsmith-fixed: write error: Bad file descriptor"
exit $fail
