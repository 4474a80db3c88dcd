// SPDX-License-Identifier: MIT
// Calls the installed library and checks two figures of the default filter.
#include <tapsmith/kernel.hpp>

#include <cstdint>
#include <cstdio>

int main() {
    tapsmith::coeff_matrix matrix;
    std::int64_t factor = 0;
    tapsmith::get_custom_pow2_coeff_matrix(5, 1.0, matrix, factor);
    const std::int64_t rounded = tapsmith::round_to_pow2(289.0);
    std::printf("round_to_pow2(289) = %ld, pow2 matrix factor (5, 1.0) = %ld\n", static_cast<long>(rounded),
                static_cast<long>(factor));
    return rounded == 256 && factor == 324 && matrix && matrix[12] == 64 ? 0 : 1;
}
