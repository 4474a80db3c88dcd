#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the module under scratch prefixes, as `cmake --install --prefix`
# does, and imports it with the interpreter as that prefix's site directory
# would give it: /usr/local's is lib/python3.X/dist-packages (which Debian's
# /usr/bin/python3 searches for /usr/local), /usr's lib/python3/dist-packages.
#   python/tests/install_check.sh PYTHON CMAKE BUILD_DIR
set -eu
python=$1
cmake=$2
build=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
version=$("$python" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
for prefix in usr/local usr opt/tapsmith; do
    "$cmake" --install "$build" --component python --prefix "$scratch/$prefix" >/dev/null
    case $prefix in
        usr) site=$scratch/usr/lib/python3/dist-packages ;;
        *) site=$scratch/$prefix/lib/python$version/dist-packages ;;
    esac
    [ -f "$site/tapsmith.pyi" ] || { echo "no tapsmith.pyi in $site"; exit 1; }
    # -I: nothing from the environment or the user's site; only this directory.
    got=$("$python" -I -c "import site, sys; site.addsitedir(sys.argv[1]); import tapsmith; \
print(tapsmith.__file__.startswith(sys.argv[1]), tapsmith.fixed_taps(5, 1.0))" "$site")
    [ "$got" = "True [14, 62, 104, 62, 14]" ] || { echo "--prefix /$prefix: $got"; exit 1; }
    echo "ok   --prefix /$prefix: imports from $site"
done
