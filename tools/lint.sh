#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Static checks on our own sources: formatting, clang-tidy, cppcheck, and
# the shell scripts through shellcheck.
# Works in a git checkout and in an unpacked release tarball alike.
# Exits non-zero on any finding.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=tools/require.sh
. tools/require.sh
require clang-format
require clang-tidy
require cppcheck
require shellcheck
require cmake
status=0

# Our files, relative to the top, matching an extended regular expression.
files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files
    else
        find . -type f -not -path './build/*' -not -path './.git/*' | sed 's|^\./||' | sort
    fi | grep -E "$1"
}

mapfile -t sources < <(files '\.(cpp|hpp)$')
echo "== clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}" || status=1

echo "== clang-tidy"
# Each part is checked against the compile database of the preset that
# builds it; every C++ file we ship or run must be in one of them.
tidied=()
tidy() {  # tidy PRESET REGEX [CLANG-TIDY OPTION...]
    local preset=$1
    mapfile -t units < <(files "$2")
    tidied+=("${units[@]}")
    cmake --preset "$preset" >/dev/null
    # One file a process, as many at once as there are cores: the check's
    # wall time is most of the lint's.
    printf '%s\0' "${units[@]}" |
        xargs -0 -n 1 -P "$(nproc)" clang-tidy -p "build/$preset" --quiet "${@:3}" 2>/dev/null || status=1
}
tidy test '^(kernel|cli|report|fixed|image|python)/[^/]*\.cpp$'
# The tests go without the path-sensitive analyzer: it takes two thirds of
# their time, and the same tests run under ASan and UBSan.
tidy test '^((kernel|cli|report|fixed|image|python)/tests/[^/]*|tests/hdl/[^/]*)\.cpp$' '--checks=-clang-analyzer-*'
tidy fuzz '^fuzz/[^/]*\.cpp$'
tidy bench '^bench/[^/]*\.cpp$'
# The downstream consumer is a project of its own, built against the
# installed headers as C++17.
clang-tidy --quiet tests/consumer/main.cpp -- -std=c++17 -Ikernel/include 2>/dev/null || status=1
tidied+=(tests/consumer/main.cpp)
missed=$(comm -23 <(files '\.cpp$' | sort) <(printf '%s\n' "${tidied[@]}" | sort))
if [ -n "$missed" ]; then
    echo "clang-tidy does not look at: $missed"
    status=1
fi

echo "== cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --library=googletest \
    --error-exitcode=1 --inline-suppr --quiet -I kernel/include -I kernel/detail -I cli/include -I report -I fixed \
    kernel cli report fixed fuzz bench || status=1

mapfile -t scripts < <(files '^(tools|tests|\.ci|bench|python)/.*(\.sh|/run)$')
echo "== shellcheck (${#scripts[@]} scripts)"
shellcheck -x "${scripts[@]}" || status=1

[ "$status" -eq 0 ] && echo "lint: no findings"
exit "$status"
