#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the three Debian packages and the tarball (cpack --preset release),
# checks what each package holds, runs lintian (no error, no warning) and
# hardening-check on them, runs the packaged programs, imports the packaged
# Python module from an unpacked root, and builds the
# packages a second time from copies of the source in two other directories
# to show that the same source and SOURCE_DATE_EPOCH give the same bytes.
# Nothing is installed on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/require.sh
. tools/require.sh
require cmake
require cpack cmake
require dpkg-deb dpkg
require dpkg-shlibdeps dpkg-dev
require file
require lintian
require hardening-check devscripts
require python3
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || stat -c %Y CMakeLists.txt)}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

build_packages() {  # build_packages SOURCE_DIR: the release build and its packages
    (cd "$1" && rm -rf build/package && cmake --preset release >/dev/null && cmake --build --preset release >/dev/null &&
        cpack --preset release >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; exit 1; }
}
build_packages .
program=(build/package/tapsmith_*.deb)
dev=(build/package/libtapsmith-dev_*.deb)
python=(build/package/python3-tapsmith_*.deb)
ls build/package/tapsmith-*.tar.gz >/dev/null

arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expect_files() {  # expect_files DEB FILE...: each file is in the package
    local deb=$1 contents
    shift
    contents=$(dpkg-deb -c "$deb")
    for f in "$@"; do
        grep -q " \./$f\$" <<<"$contents" || { echo "package: $f is missing from $deb"; exit 1; }
    done
}
expect_files "${program[0]}" usr/bin/tapsmith usr/bin/tapsmith-fixed usr/share/man/man1/tapsmith.1.gz \
    usr/share/man/man1/tapsmith-fixed.1.gz usr/share/doc/tapsmith/copyright usr/share/doc/tapsmith/changelog.gz \
    usr/share/tapsmith/hdl/tapsmith_blur.sv usr/share/tapsmith/hdl/tapsmith_blur.vhd
expect_files "${dev[0]}" usr/include/tapsmith/kernel.hpp "usr/lib/$arch/libtapsmith.a" \
    "usr/lib/$arch/cmake/tapsmith/tapsmithConfig.cmake" "usr/lib/$arch/pkgconfig/tapsmith.pc" \
    usr/share/doc/libtapsmith-dev/copyright usr/share/doc/libtapsmith-dev/changelog.gz
expect_files "${python[0]}" "usr/lib/python3/dist-packages/tapsmith\.cpython-.*-$arch\.so" \
    usr/lib/python3/dist-packages/tapsmith.pyi usr/share/doc/python3-tapsmith/copyright \
    usr/share/doc/python3-tapsmith/changelog.gz
if dpkg-deb -c "${program[0]}" | grep -q 'usr/include\|\.a$'; then
    echo "package: development files in the program's package"
    exit 1
fi
dpkg-deb -f "${program[0]}" Depends | grep -q libc6 || { echo "package: no libc6 dependency"; exit 1; }
dpkg-deb -f "${python[0]}" Depends | grep -q 'python3 (<<.*python3-numpy' ||
    { echo "package: python3-tapsmith does not pin python3 and need numpy"; exit 1; }

echo "== lintian"
lintian --fail-on error,warning --tag-display-limit 0 "${program[0]}" "${dev[0]}" "${python[0]}" 2>&1 |
    grep -v 'running with root privileges' || true
lintian --fail-on error,warning "${program[0]}" "${dev[0]}" "${python[0]}" >/dev/null 2>&1 ||
    { echo "lintian: FAILED"; exit 1; }
echo "lintian: no error, no warning"

echo "== hardening-check"
root="$tmp/root"
mkdir "$root"
for deb in "${program[0]}" "${dev[0]}" "${python[0]}"; do
    dpkg-deb -x "$deb" "$root"
done
# Debian 12's own start files (Scrt1.o, crti.o, crtn.o) carry no IBT/SHSTK
# property, so no binary linked with them can be marked for control-flow
# protection; hardening-check reports every such binary, /usr/bin/ls
# included, as "no".
hardening-check --nocfprotection "$root/usr/bin/tapsmith-fixed"
# tapsmith is built with _FORTIFY_SOURCE=2 like the rest, but the report
# calls no C library function that has a checked variant with a size the
# compiler can see (its output is one write), so there is nothing for
# hardening-check to find; it checks everything else.
hardening-check --nocfprotection --nofortify "$root/usr/bin/tapsmith"
"$root/usr/bin/tapsmith" 5 1 | cmp - tests/expected/defaults.out
"$root/usr/bin/tapsmith-fixed" 5 1.0 | cmp - tests/expected/fixed/text.out
# The module is built with _FORTIFY_SOURCE too, but every copy it makes has
# a size known only at run time, so there is no checked variant to find.
hardening-check --nocfprotection --nofortify "$root"/usr/lib/python3/dist-packages/tapsmith.cpython-*.so

echo "== python3-tapsmith"
# Debian's interpreter (it has numpy), the unpacked module and nothing else.
PYTHONPATH="$root/usr/lib/python3/dist-packages" PYTHONNOUSERSITE=1 /usr/bin/python3 -c '
import sys, numpy, tapsmith
assert tapsmith.__file__.startswith(sys.argv[1]), tapsmith.__file__
taps = tapsmith.fixed_taps(3, 0.85, 4)
assert sum(taps) == 16, taps
impulse = numpy.zeros((5, 5), numpy.uint8)
impulse[2, 2] = 255
print(tapsmith.__version__, taps, tapsmith.blur(impulse, taps, 4)[1:4, 1:4].tolist())
sys.stdout.write(tapsmith.report(5, 1.0))' "$root" >"$tmp/python.out"
head -1 "$tmp/python.out"
tail -n +2 "$tmp/python.out" | cmp - tests/expected/defaults.out

echo "== reproducible"
for copy in a b/deeper; do
    mkdir -p "$tmp/$copy/src"
    tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$tmp/$copy/src"
    build_packages "$tmp/$copy/src"
done
for deb in "${program[0]}" "${dev[0]}" "${python[0]}"; do
    name=$(basename "$deb")
    if ! { cmp "$deb" "$tmp/a/src/build/package/$name" && cmp "$deb" "$tmp/b/deeper/src/build/package/$name"; }; then
        echo "reproducible: $name differs between source directories"
        exit 1
    fi
done
echo "package: $(basename "${program[0]}"), $(basename "${dev[0]}") and $(basename "${python[0]}") are complete, lintian-clean, hardened and reproducible"
