# SPDX-License-Identifier: MIT
# The warnings of tapsmith's own targets; -Werror only where we are the
# top-level project: a parent on a newer compiler must not fail on a new
# warning.
function(tapsmith_warnings target)
    target_compile_options(
        ${target}
        PRIVATE -Wall
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
