# SPDX-License-Identifier: MIT
# Flags for tapsmith's own targets.
#
# The arithmetic flags hold wherever the code is built, embedded or not,
# because the printed digits depend on them: -ffp-contract=off keeps the
# compiler from fusing a multiply and an add on FMA-capable targets, and on
# 32-bit x86 SSE2 replaces the x87 unit, whose 80-bit intermediates change
# large taps and keep a 2 sigma^2 that a double would flush to 0.
#
# The warnings are ours too, but -Werror only where we are the top-level
# project: a parent on a newer compiler must not fail on a new warning.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86|X86)$")
    set(TAPSMITH_ARITHMETIC_FLAGS -ffp-contract=off -msse2 -mfpmath=sse)
else()
    set(TAPSMITH_ARITHMETIC_FLAGS -ffp-contract=off)
endif()

function(tapsmith_strict target)
    target_compile_options(
        ${target}
        PRIVATE ${TAPSMITH_ARITHMETIC_FLAGS}
                -Wall
                -Wextra
                -Wpedantic
                -Wconversion
                -Wsign-conversion
                -Wshadow
                -Wdouble-promotion
                -Wformat=2
                -Wold-style-cast
                -Wnon-virtual-dtor
                -Wcast-align
                -Wnull-dereference
                $<$<BOOL:${TAPSMITH_WARNINGS_AS_ERRORS}>:-Werror>)
endfunction()

# How a program is linked. A C++ runtime loaded at startup costs several
# times the report itself (the dynamic loader resolves thousands of
# libstdc++ symbols) and the programs use almost none of it, so what they
# use is linked in; libc and libm stay shared. With a shared kernel, the
# installed program finds it relative to itself.
function(tapsmith_program target)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
    if(BUILD_SHARED_LIBS)
        file(RELATIVE_PATH to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_lib}")
    endif()
endfunction()
