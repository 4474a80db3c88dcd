#!/bin/sh
# write_error.sh PROGRAM: a report that cannot be written must end with exit
# status 1 and one line on standard error naming the system's error.
program=$1
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
fail=0

expect() {  # expect NAME STATUS MESSAGE: compares the last run's outcome
    if [ "$status" -ne "$2" ] || [ "$(cat "$tmp/err")" != "$3" ] || [ "$(wc -l <"$tmp/err")" -ne "$(printf '%s' "$3" | grep -c '^')" ]; then
        echo "FAIL $1: status $status, stderr: $(cat "$tmp/err")"
        fail=1
    fi
}

"$program" 5 1 >/dev/full 2>"$tmp/err"; status=$?
expect "full device" 1 "tapsmith: write error: No space left on device"
"$program" -h >/dev/full 2>"$tmp/err"; status=$?
expect "help to a full device" 1 "tapsmith: write error: No space left on device"
"$program" 9 1 >&- 2>"$tmp/err"; status=$?
expect "closed stdout" 1 "tapsmith: write error: Bad file descriptor"
"$program" 9 1 >/dev/null 2>"$tmp/err"; status=$?
expect "a normal run" 0 ""
exit $fail
