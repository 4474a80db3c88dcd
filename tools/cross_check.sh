#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The same report on every Debian architecture. For each architecture the
# programs are cross-built (static, Release) with Debian's g++-<triplet> and
# run under qemu-user on the end-to-end cases (against their checked
# files), the report's argument sweep and a grid of tapsmith-fixed runs
# (both against the native build). Any difference fails but the sign of a
# NaN: 0/0 is a negative NaN on x86-64 and a positive one elsewhere, and
# each platform prints the sign it has. On the 32-bit architectures, where
# int64_t is long long, the unit tests are built too (GoogleTest from
# Debian's sources) and run under the emulator.
#   tools/cross_check.sh [ARCH...]   (default: aarch64 armhf s390x ppc64el riscv64 i386)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(aarch64 armhf s390x ppc64el riscv64 i386)
native=$top/build/release
[ -x "$native/report/tapsmith" ] || { echo "cross: build the release preset first"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
same() { cmp -s <(sed 's/-nan/nan/g' "$1") <(sed 's/-nan/nan/g' "$2"); }

failed=0
for arch in "${archs[@]}"; do
    toolchain=$top/cmake/toolchains/$arch.cmake
    build=$top/build/cross-$arch
    qemu=$(sed -n 's/^set(TAPSMITH_QEMU \(.*\))$/\1/p' "$toolchain")
    unit_tests=OFF
    case $arch in armhf | i386) unit_tests=ON ;; esac
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DTAPSMITH_BUILD_TESTS=$unit_tests -DTAPSMITH_HARDENING=OFF -DCMAKE_EXE_LINKER_FLAGS=-static \
        >"$tmp/configure.log" 2>&1 || { cat "$tmp/configure.log"; exit 1; }
    cmake --build "$build" >"$tmp/build.log" 2>&1 || { cat "$tmp/build.log"; exit 1; }
    units=""
    if [ "$unit_tests" = ON ]; then
        # The end-to-end tests run the programs directly; below they run
        # under the emulator instead.
        ctest --test-dir "$build" -j 2 -E '^e2e\.' >"$tmp/ctest.log" 2>&1 ||
            { tail -n 30 "$tmp/ctest.log"; echo "FAIL $arch: unit tests"; failed=$((failed + 1)); continue; }
        units="$(grep -c ' Passed ' "$tmp/ctest.log") unit tests passed, "
    fi
    for program in tapsmith:report tapsmith-fixed:fixed; do
        printf '#!/bin/sh\nexec %s %s "$@"\n' "$qemu" "$build/${program#*:}/${program%%:*}" >"$tmp/${program%%:*}"
        chmod +x "$tmp/${program%%:*}"
    done
    problems=0
    cases=0
    while IFS='|' read -r name program arguments; do
        case $name in \#* | "") continue ;; esac
        cases=$((cases + 1))
        # shellcheck disable=SC2086 # the arguments are meant to split
        "$tmp/$program" $arguments >"$tmp/out" 2>&1 || true
        same "$tmp/out" "tests/expected/$name.out" || { echo "FAIL $arch: $name differs"; problems=$((problems + 1)); }
    done <tests/e2e/cases.txt
    sweep=$(bash tests/e2e/sweep.sh "$tmp/tapsmith" "$native/report/tapsmith") || { echo "$sweep" | tail -5; problems=$((problems + 1)); }
    runs=0
    for n in 1 3 5 7 9; do
        for sigma in 0.3 0.8 1 2.5 40; do
            for bits in 1 8 16 30; do
                runs=$((runs + 1))
                "$tmp/tapsmith-fixed" -f json -b "$bits" "$n" "$sigma" >"$tmp/out"
                "$native/fixed/tapsmith-fixed" -f json -b "$bits" "$n" "$sigma" >"$tmp/native"
                cmp -s "$tmp/out" "$tmp/native" || { echo "FAIL $arch: tapsmith-fixed -b $bits $n $sigma differs"; problems=$((problems + 1)); }
            done
        done
    done
    if [ "$problems" -eq 0 ]; then
        echo "cross $arch ($qemu): ${units}$cases checked cases, ${sweep##*: } in the sweep, $runs tapsmith-fixed runs, all identical"
    else
        failed=$((failed + 1))
    fi
done
echo "cross: $((${#archs[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
