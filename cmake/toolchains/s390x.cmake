# SPDX-License-Identifier: MIT
# Debian s390x: 64-bit IBM Z, big-endian.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TAPSMITH_TRIPLET s390x-linux-gnu)
set(TAPSMITH_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
