#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Python module's tests once with AddressSanitizer and UBSan:
#   python/asan_check.sh BUILD_DIR
# configures a clang build of the module and the programs in BUILD_DIR,
# builds only those, and runs the python.pytest test with ASan's shared
# runtime preloaded into Debian's python3 (an uninstrumented interpreter
# cannot load an instrumented module any other way). Everything links the
# shared runtime, so the programs the tests start, which inherit the
# preload, do not carry a second copy of it. Leak detection is off: the
# interpreter keeps its own allocations to the end by design.
set -euo pipefail
if [[ $# -ne 1 ]]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$1
source_dir=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/require.sh
. "$source_dir/tools/require.sh"
require clang++ clang libclang-rt-14-dev
require cmake
require ninja ninja-build
sanitizers="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all"
link="-fsanitize=address,undefined,float-cast-overflow -shared-libasan"
runtime=$(clang++ -print-file-name=libclang_rt.asan-x86_64.so)
if [[ ! -f $runtime ]]; then
    echo "asan_check: clang's shared ASan runtime is missing ($runtime)" >&2
    exit 1
fi

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer $sanitizers" -DCMAKE_EXE_LINKER_FLAGS="$link" \
    -DCMAKE_MODULE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link" \
    -DTAPSMITH_PYTHON=ON -DTAPSMITH_BUILD_TESTS=ON -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$build" --target tapsmith_python tapsmith tapsmith-fixed
LD_PRELOAD=$runtime ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$build" -R '^python\.pytest$' --output-on-failure --no-tests=error
