# shellcheck shell=bash
# SPDX-License-Identifier: MIT
# Sourced by the check scripts: `require PROGRAM PACKAGE...` stops the
# calling script when PROGRAM is not on PATH, naming it and the Debian
# packages that bring it, before any work is done.
require() {
    local program=$1
    shift
    if ! command -v "$program" >/dev/null 2>&1; then
        echo "${0##*/}: needs $program, which is not installed: apt-get install ${*:-$program}" >&2
        exit 1
    fi
}
