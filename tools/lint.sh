#!/usr/bin/env bash
# Static checks on our own sources: formatting, clang-tidy and cppcheck.
# Exits non-zero on any finding.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0

mapfile -t sources < <(git ls-files '*.cpp' '*.hpp')
echo "== clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}" || status=1

echo "== clang-tidy"
# Each part is checked against the compile database of the preset that builds it.
tidy() {
    local preset=$1
    shift
    mapfile -t units < <(git ls-files "$@")
    cmake --preset "$preset" >/dev/null
    clang-tidy -p "build/$preset" --quiet "${units[@]}" 2>/dev/null || status=1
}
tidy release 'kernel/*.cpp' 'report/*.cpp' 'tests/*.cpp' ':!tests/consumer'
tidy fuzz 'fuzz/*.cpp'
tidy bench 'bench/*.cpp'

echo "== cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --library=googletest \
    --error-exitcode=1 --inline-suppr --quiet -I kernel/include -I report \
    kernel report tests fuzz bench || status=1

[ "$status" -eq 0 ] && echo "lint: no findings"
exit "$status"
