#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shared-library build: every test with BUILD_SHARED_LIBS=ON, then the
# installed tree: libtapsmith.so.MAJOR as soname, only what the headers
# declare TAPSMITH_API exported, and
# the installed programs running from their prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require cmake
require ninja ninja-build
require readelf binutils
cmake --workflow --preset shared
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build/shared --prefix "$prefix" >/dev/null
major=$(sed -n 's/^ *VERSION \([0-9]*\)\..*/\1/p' CMakeLists.txt)
library=$(find "$prefix" -name "libtapsmith.so.$major.*" -type f)
[ -n "$library" ] || { echo "shared: no libtapsmith.so.$major.* installed"; exit 1; }
soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = "libtapsmith.so.$major" ] || { echo "shared: soname is '$soname'"; exit 1; }
# Everything the library defines for others is in namespace tapsmith and
# declared in the headers.
exported=$(nm -D --defined-only "$library" | c++filt | awk '{ $1 = ""; $2 = ""; print }' | sed 's/^ *//' | sort)
api=$(sed -n 's/.*TAPSMITH_API [^(]* \**\([A-Za-z_0-9]*\)(.*/\1/p' kernel/include/tapsmith/*.hpp | sort -u | paste -sd'|')
[ -n "$api" ] || { echo "shared: no TAPSMITH_API declarations found in the headers"; exit 1; }
unexpected=$(grep -v -E "^tapsmith::($api)\(" <<<"$exported" || true)
[ -z "$unexpected" ] || { echo "shared: exports beyond the API:"; echo "$unexpected"; exit 1; }
# Run from the install prefix with nothing on the library path.
env -u LD_LIBRARY_PATH "$prefix/bin/tapsmith" 5 1 | cmp - tests/expected/defaults.out
env -u LD_LIBRARY_PATH "$prefix/bin/tapsmith-fixed" 5 1.0 | cmp - tests/expected/fixed/text.out
ldd "$prefix/bin/tapsmith" | grep -q "libtapsmith.so.$major => $prefix/" || { echo "shared: the program does not load its own library"; exit 1; }
echo "shared: $soname exports $(wc -l <<<"$exported") API functions; the installed programs run from $prefix"
