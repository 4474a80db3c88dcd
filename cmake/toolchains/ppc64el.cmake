# SPDX-License-Identifier: MIT
# Debian ppc64el: 64-bit POWER, little-endian.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(TAPSMITH_TRIPLET powerpc64le-linux-gnu)
set(TAPSMITH_QEMU qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
