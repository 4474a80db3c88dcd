// SPDX-License-Identifier: MIT
// Calls the library through its header and checks a few figures of the
// default filter; the parent's strict flags apply to this file.
#include <tapsmith/kernel.hpp>

#include <cinttypes>
#include <cstdint>
#include <cstdio>

int main() {
    tapsmith::coeff_matrix matrix;
    std::int64_t factor = 0;
    tapsmith::get_custom_pow2_coeff_matrix(5, 1.0, matrix, factor);
    const std::int64_t rounded = tapsmith::round_to_pow2(289.0);
    tapsmith::int_table taps{};
    const bool fixed = tapsmith::get_fixed_coeffs(5, 1.0, 8, taps);
    std::printf("round_to_pow2(289) = %" PRId64 ", pow2 matrix factor (5, 1.0) = %" PRId64
                ", fixed taps %" PRId64 " %" PRId64 " %" PRId64 "\n",
                rounded, factor, taps[0], taps[1], taps[2]);
    return rounded == 256 && factor == 324 && matrix && matrix[12] == 64 && fixed && taps[2] == 104 ? 0 : 1;
}
