#!/usr/bin/env bash
# Static checks on our own sources: formatting, clang-tidy and cppcheck.
# Needs a configured release build; configures the fuzz preset for its
# compile database. Exits non-zero on any finding.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0

mapfile -t sources < <(git ls-files '*.cpp' '*.hpp')
echo "== clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}" || status=1

echo "== clang-tidy"
mapfile -t units < <(git ls-files 'kernel/*.cpp' 'report/*.cpp' 'tests/*.cpp' 'bench/*.cpp')
clang-tidy -p build/release --quiet "${units[@]}" 2>/dev/null || status=1
cmake --preset fuzz >/dev/null
mapfile -t fuzzers < <(git ls-files 'fuzz/*.cpp')
clang-tidy -p build/fuzz --quiet "${fuzzers[@]}" 2>/dev/null || status=1

echo "== cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --library=googletest \
    --error-exitcode=1 --inline-suppr --quiet -I kernel/include -I report \
    kernel report tests fuzz bench || status=1

[ "$status" -eq 0 ] && echo "lint: no findings"
exit "$status"
