# SPDX-License-Identifier: MIT
# Debian arm64: 64-bit Arm, little-endian.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TAPSMITH_TRIPLET aarch64-linux-gnu)
set(TAPSMITH_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
