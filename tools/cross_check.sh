#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The same output on every Debian architecture. For each architecture the
# project is cross-built (static, Release) with Debian's g++-<triplet>, and
# CTest runs the tests under the toolchain's qemu-user emulator
# (CMAKE_CROSSCOMPILING_EMULATOR): the end-to-end cases against their
# checked files, and the report's sweep and tapsmith-fixed's grid compared
# run by run with the native release build. Under emulation every run
# starts a qemu, so the grids (thousands of runs) are kept to aarch64
# (64-bit, fused multiply-add in hardware, libm's generic paths) and i386
# (32-bit: int64_t is long long, x86 has two floating-point units), where
# the unit tests are built and run too. s390x (big-endian), armhf, ppc64el
# and riscv64 run the end-to-end cases against their checked files.
# aarch64 also runs part of the filter's grid: there its loops are built
# for NEON, SVE and SVE2, and qemu's processor runs all three (x86's
# instruction sets are checked natively and on i386).
# Only the sign of a NaN may differ (0/0 is a negative NaN on x86-64 and a
# positive one elsewhere).
#   tools/cross_check.sh [ARCH...]   (default: aarch64 armhf s390x ppc64el riscv64 i386)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require cmake
require ninja ninja-build
top=$PWD
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(aarch64 armhf s390x ppc64el riscv64 i386)
for arch in "${archs[@]}"; do
    toolchain=$top/cmake/toolchains/$arch.cmake
    [ -f "$toolchain" ] || { echo "cross: no toolchain file for '$arch'"; exit 1; }
    triplet=$(sed -n 's/^set(TAPSMITH_TRIPLET \(.*\))$/\1/p' "$toolchain")
    require "$triplet-g++" "g++-$triplet"
    require "$(sed -n 's/^set(TAPSMITH_QEMU \(.*\))$/\1/p' "$toolchain")" qemu-user
done
native=$top/build/release
[ -x "$native/report/tapsmith" ] || { echo "cross: build the release preset first"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failed=0
for arch in "${archs[@]}"; do
    build=$top/build/cross-$arch
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTAPSMITH_BUILD_TESTS=ON -DTAPSMITH_HARDENING=OFF \
        -DCMAKE_EXE_LINKER_FLAGS=-static -DTAPSMITH_REFERENCE_DIR="$native" \
        >"$tmp/configure.log" 2>&1 || { cat "$tmp/configure.log"; exit 1; }
    only=(--target tapsmith tapsmith-fixed)
    select=(-R '^e2e[.]')
    case $arch in
        i386) only=() select=() ;;
        aarch64)
            only+=(tapsmith_kernel_tests)
            ;;
        *) select+=(-E '^e2e[.](sweep|fixed/(grid|response_figures|minimize_unproven))$') ;;
    esac
    cmake --build "$build" "${only[@]}" >"$tmp/build.log" 2>&1 || { tail -n 40 "$tmp/build.log"; exit 1; }
    filter_ok=true
    if [ "$arch" = aarch64 ]; then
        qemu=$(sed -n 's/^set(TAPSMITH_QEMU \(.*\))$/\1/p' "$top/cmake/toolchains/$arch.cmake")
        "$qemu" "$build/kernel/tapsmith_kernel_tests" --gtest_filter='*blur*' >"$tmp/blur.log" 2>&1 ||
            { tail -n 30 "$tmp/blur.log"; filter_ok=false; }
    fi
    if $filter_ok && ctest --test-dir "$build" -j 2 "${select[@]}" >"$tmp/ctest.log" 2>&1; then
        echo "cross $arch: $(grep -E 'tests passed' "$tmp/ctest.log")$([ "$arch" = aarch64 ] &&
            echo "; the filter's tests: $(grep -E '^\[  PASSED' "$tmp/blur.log")")"
    else
        grep -E 'Failed|\*\*\*' "$tmp/ctest.log" 2>/dev/null | head -20 || true
        echo "FAIL $arch"
        failed=$((failed + 1))
    fi
done
echo "cross: $((${#archs[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
