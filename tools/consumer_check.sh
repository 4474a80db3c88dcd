#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# tapsmith as others take it in. The release build is installed into a
# scratch prefix; then a parent project with strict warnings of its own
# (tests/consumer) is built with g++ and clang++, as C++17 and C++20, both
# on the installed CMake package and with tapsmith added by
# add_subdirectory (which must build the library alone); then a plain
# pkg-config link and the library documentation's example; then the header below C++17
# must give one clear #error.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require cmake
require ninja ninja-build
require g++
require clang++ clang
require pkg-config
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
strict="-Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Wfloat-equal -Wold-style-cast -Wundef -Werror"

prefix=$work/prefix
cmake --install build/release --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libtapsmith.a)")
for f in bin/tapsmith bin/tapsmith-fixed include/tapsmith/kernel.hpp share/man/man1/tapsmith.1.gz \
         share/man/man1/tapsmith-fixed.1.gz; do
    [ -e "$prefix/$f" ] || { echo "install: $f is missing"; exit 1; }
done
for f in pkgconfig/tapsmith.pc cmake/tapsmith/tapsmithConfig.cmake cmake/tapsmith/tapsmithConfigVersion.cmake; do
    [ -e "$libdir/$f" ] || { echo "install: $libdir/$f is missing"; exit 1; }
done
"$prefix/bin/tapsmith" 5 1 | cmp - tests/expected/defaults.out

for compiler in g++ clang++; do
    for standard in 17 20; do
        for way in installed subdirectory; do
            build=$work/$compiler-$standard-$way
            if [ "$way" = installed ]; then
                source_arg=-DCMAKE_PREFIX_PATH=$prefix
            else
                source_arg=-DTAPSMITH_SOURCE_DIR=$PWD
            fi
            cmake -S tests/consumer -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" \
                -DCMAKE_CXX_STANDARD="$standard" -DCMAKE_CXX_FLAGS="$strict" "$source_arg" >"$build.log" 2>&1 ||
                { cat "$build.log"; exit 1; }
            cmake --build "$build" >>"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
            "$build/consumer" >/dev/null
            if [ "$way" = subdirectory ]; then
                targets=$(ninja -C "$build" -t targets all)
                if grep -q -E '^(tapsmith/report/tapsmith|tapsmith/fixed/tapsmith-fixed|.*tapsmith_tests)' <<<"$targets"; then
                    echo "embed: add_subdirectory builds more than the library"
                    exit 1
                fi
            fi
            echo "consumer: $compiler C++$standard through the $way tapsmith: built with strict flags and ran"
        done
    done
done

PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_PATH
flags=$(pkg-config --cflags --libs tapsmith)
grep -q -- '-std=' <<<"$flags" && { echo "pkg-config: forces a language standard: $flags"; exit 1; }
# shellcheck disable=SC2086 # the flags are meant to split
g++ -std=c++17 $strict tests/consumer/main.cpp -o "$work/pc-consumer" $flags
"$work/pc-consumer" >/dev/null
echo "consumer: pkg-config --cflags --libs tapsmith alone links ($flags)"

# The library documentation's example, as shown, inside a main of its own.
{
    echo 'int main() {'
    awk '/^```cpp$/ { inside = 1; next } /^```$/ { inside = 0 } inside' docs/library.md | grep -v '^#include'
    echo 'return shift_divisor == 256 && taps[2] == 104 && plan.per_pass == 8 && s == tapsmith::status::ok &&'
    echo '    out[0] == 25 && out[1] == 42 && out[2] == 25 ? 0 : 1; }'
} | sed '1i #include <tapsmith/kernel.hpp>\n#include <tapsmith/fixed.hpp>' >"$work/example.cpp"
# shellcheck disable=SC2086 # the flags are meant to split
g++ -std=c++17 $strict "$work/example.cpp" -o "$work/example" $flags
"$work/example" || { echo "consumer: the library documentation's example gives other figures"; exit 1; }
echo "consumer: the library documentation's example compiles as shown and gives its figures"

printf '#include <tapsmith/kernel.hpp>\n' >"$work/old.cpp"
for compiler in g++ clang++; do
    log=$("$compiler" -std=c++14 -fsyntax-only -I "$prefix/include" "$work/old.cpp" 2>&1 || true)
    if [ "$(grep -c 'error:' <<<"$log")" -ne 1 ] || ! grep -q 'needs C++17 or later' <<<"$log"; then
        echo "consumer: $compiler -std=c++14 does not get exactly one clear #error:"
        echo "$log"
        exit 1
    fi
done
echo "consumer: below C++17, g++ and clang++ get one #error: needs C++17 or later"
