# SPDX-License-Identifier: MIT
# Shared by the toolchain files beside it: Debian's g++-<triplet> cross
# compiler and its libraries under /usr/<triplet>, and qemu-user to run
# what it builds (ctest and tools/cross_check.sh use the emulator).
#   cmake -S . -B build/cross-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TAPSMITH_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TAPSMITH_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TAPSMITH_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAPSMITH_QEMU} -L /usr/${TAPSMITH_TRIPLET})
