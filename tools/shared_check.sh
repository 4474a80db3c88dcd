#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shared-library build: every test with BUILD_SHARED_LIBS=ON, then the
# installed tree: libtapsmith.so.1 as soname, only the API exported, and
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
library=$(find "$prefix" -name 'libtapsmith.so.1.*' -type f)
[ -n "$library" ] || { echo "shared: no libtapsmith.so.1.* installed"; exit 1; }
soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = libtapsmith.so.1 ] || { echo "shared: soname is '$soname'"; exit 1; }
# Everything the library defines for others is in namespace tapsmith and
# declared in the headers.
exported=$(nm -D --defined-only "$library" | c++filt | awk '{ $1 = ""; $2 = ""; print }' | sed 's/^ *//' | sort)
unexpected=$(grep -v -E '^tapsmith::(gaussian_sampling|get_float_coeffs|get_int_coeffs|round_to_pow2|SSE|get_custom_coeff_matrix|get_custom_pow2_coeff_matrix|get_fixed_coeffs|get_fixed_samples|get_fixed_taps|get_fixed_figures|get_frequency_response|auto_dim_mask|auto_bits|blur|describe)\(' <<<"$exported" || true)
[ -z "$unexpected" ] || { echo "shared: exports beyond the API:"; echo "$unexpected"; exit 1; }
# Run from the install prefix with nothing on the library path.
env -u LD_LIBRARY_PATH "$prefix/bin/tapsmith" 5 1 | cmp - tests/expected/defaults.out
env -u LD_LIBRARY_PATH "$prefix/bin/tapsmith-fixed" 5 1.0 | cmp - tests/expected/fixed/text.out
ldd "$prefix/bin/tapsmith" | grep -q "libtapsmith.so.1 => $prefix/" || { echo "shared: the program does not load its own library"; exit 1; }
echo "shared: $soname exports $(wc -l <<<"$exported") API functions; the installed programs run from $prefix"
