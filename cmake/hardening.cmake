# SPDX-License-Identifier: MIT
# What Debian's hardening=+all gives a package, for the optimised
# configurations (_FORTIFY_SOURCE needs optimisation): stack protector,
# fortified libc calls, full RELRO with immediate binding, PIE, and
# stack-clash and control-flow protection where the target has them.
# Directory-scoped, so it reaches our targets only.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

if(TAPSMITH_HARDENING)
    set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    check_pie_supported(LANGUAGES CXX)
    add_compile_options($<${optimised}:-fstack-protector-strong> $<${optimised}:-U_FORTIFY_SOURCE>
                        $<${optimised}:-D_FORTIFY_SOURCE=2>)
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "TAPSMITH_HAS${flag}" var)
        check_cxx_compiler_flag(${flag} ${var})
        if(${var})
            add_compile_options($<${optimised}:${flag}>)
        endif()
    endforeach()
    add_link_options($<${optimised}:LINKER:-z,relro> $<${optimised}:LINKER:-z,now>)
endif()

# The same source in another directory gives the same bytes.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
