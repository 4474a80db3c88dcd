# SPDX-License-Identifier: MIT
# Debian i386: 32-bit x86; built for SSE2 arithmetic (see cmake/warnings.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAPSMITH_TRIPLET i686-linux-gnu)
set(TAPSMITH_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
