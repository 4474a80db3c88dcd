#!/usr/bin/env bash
# Builds the Debian package and the tarball from the release build, checks
# the package's control fields and contents, and runs the binary extracted
# from it. Nothing is installed on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
log=$(cpack --preset release 2>&1) || { echo "$log"; exit 1; }
deb=$(ls build/package/tapsmith_*.deb)
ls build/package/tapsmith-*.tar.gz >/dev/null

info=$(dpkg-deb -I "$deb")
for field in "Package: tapsmith" "Depends: libc6" "Section: science" "Maintainer: " "Description: "; do
    grep -q "^ $field" <<<"$info" || { echo "package: no '$field' in the control file"; exit 1; }
done
contents=$(dpkg-deb -c "$deb")
for f in usr/bin/tapsmith usr/share/man/man1/tapsmith.1 usr/include/tapsmith/kernel.hpp \
         usr/lib/libtapsmith.a usr/lib/cmake/tapsmith/tapsmithConfig.cmake \
         usr/lib/cmake/tapsmith/tapsmithTargets.cmake usr/lib/pkgconfig/tapsmith.pc; do
    grep -q " \./$f\$" <<<"$contents" || { echo "package: $f is missing"; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/tapsmith" 5 1 | cmp - tests/expected/defaults.out
echo "package: $(basename "$deb") and the tarball are complete; the packaged binary prints the checked report"
