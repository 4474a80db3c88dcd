# SPDX-License-Identifier: MIT
# Debian armhf: 32-bit Arm (hard float), little-endian; int64_t is long long.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(TAPSMITH_TRIPLET arm-linux-gnueabihf)
set(TAPSMITH_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
