# SPDX-License-Identifier: MIT
# How the command-line code is built and linked.
#
# It throws nothing: without exceptions it needs no unwinder, and so no
# exception pool that the C++ runtime allocates at start and never frees.
# Every library and program of the command line goes through here.
function(tapsmith_cli_target target)
    tapsmith_warnings(${target})
    target_compile_options(${target} PRIVATE -fno-exceptions)
    target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:tapsmith_arithmetic>)
endfunction()

# A C++ runtime loaded at startup costs several times the report itself
# (the dynamic loader resolves thousands of libstdc++ symbols) and the
# programs use almost none of it, so what they use is linked in; libc and
# libm stay shared. With a shared kernel, the installed program finds it
# relative to itself.
function(tapsmith_program target)
    tapsmith_cli_target(${target})
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
    if(BUILD_SHARED_LIBS)
        file(RELATIVE_PATH to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_lib}")
    endif()
endfunction()
