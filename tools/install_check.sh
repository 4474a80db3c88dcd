#!/usr/bin/env bash
# Installs the release build into a scratch prefix and builds two consumers
# against it: the CMake package (tests/consumer) and plain pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install build/release --prefix "$prefix"
for f in bin/tapsmith include/tapsmith/kernel.hpp lib/libtapsmith.a lib/pkgconfig/tapsmith.pc \
         lib/cmake/tapsmith/tapsmithConfig.cmake lib/cmake/tapsmith/tapsmithConfigVersion.cmake \
         lib/cmake/tapsmith/tapsmithTargets.cmake share/man/man1/tapsmith.1; do
    [ -e "$prefix/$f" ] || { echo "install: $f is missing"; exit 1; }
done
"$prefix/bin/tapsmith" 5 1 | cmp - tests/expected/defaults.out

cmake -S tests/consumer -B "$prefix/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
"$prefix/consumer/consumer"

PKG_CONFIG_PATH="$prefix/lib/pkgconfig" g++ tests/consumer/main.cpp -o "$prefix/pc-consumer" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs --static tapsmith)
"$prefix/pc-consumer"
echo "install: package, CMake consumer and pkg-config consumer all work"
