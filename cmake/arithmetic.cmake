# SPDX-License-Identifier: MIT
# The flags the computed digits depend on, as an interface target that every
# target doing tapsmith's floating-point arithmetic links: -ffp-contract=off
# keeps the compiler from fusing a multiply and an add on FMA-capable
# targets, and on 32-bit x86 SSE2 replaces the x87 unit, whose 80-bit
# intermediates change large taps and keep a 2 sigma^2 that a double would
# flush to 0.
add_library(tapsmith_arithmetic INTERFACE)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86|X86)$")
    target_compile_options(tapsmith_arithmetic INTERFACE -ffp-contract=off -msse2 -mfpmath=sse)
else()
    target_compile_options(tapsmith_arithmetic INTERFACE -ffp-contract=off)
endif()
