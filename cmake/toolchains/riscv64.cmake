# SPDX-License-Identifier: MIT
# Debian riscv64: 64-bit RISC-V, little-endian.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(TAPSMITH_TRIPLET riscv64-linux-gnu)
set(TAPSMITH_QEMU qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
