# Warnings are errors in our own targets only; third-party headers stay out
# of it. -ffp-contract=off keeps the compiler from fusing a multiply and an
# add on FMA-capable targets, which would change printed digits.
function(tapsmith_strict target)
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
                -Werror
                -ffp-contract=off)
endfunction()
