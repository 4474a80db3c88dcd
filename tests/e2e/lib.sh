# shellcheck shell=sh
# SPDX-License-Identifier: MIT
# Shared by the end-to-end scripts (sourced).

# The text with the sign of every NaN dropped when TAPSMITH_NAN_ANY_SIGN is
# set: 0/0 is a negative NaN on x86-64 and a positive one on the other
# architectures, and each prints the sign it has; nothing else may differ.
nan_sign() {
    if [ -n "${TAPSMITH_NAN_ANY_SIGN:-}" ]; then sed 's/-nan/nan/g' "$@"; else cat "$@"; fi
}
