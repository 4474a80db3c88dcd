// SPDX-License-Identifier: MIT
// Calls the library through its headers and checks a few figures of the
// default filter; the parent's strict flags apply to this file.
#include <tapsmith/fixed.hpp>
#include <tapsmith/kernel.hpp>
#include <tapsmith/saturating.hpp>

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
    // Any size: 15 taps for sigma 2.3, and a 3 x 1 image through the filter.
    tapsmith::fixed_taps wide{};
    const bool any =
        tapsmith::get_fixed_taps(15, 2.3, 12, tapsmith::sampling::point, wide) == tapsmith::status::ok;
    const std::uint8_t in[3] = {0, 255, 0};
    std::uint8_t out[3] = {};
    const tapsmith::status status =
        tapsmith::blur(in, out, {3, 1, 1}, {5, taps.data(), 8, 8, tapsmith::border::zero});
    std::printf("round_to_pow2(289) = %" PRId64 ", pow2 matrix factor (5, 1.0) = %" PRId64
                ", fixed taps %" PRId64 " %" PRId64 " %" PRId64 ", 15-tap centre %" PRId64
                ", blurred %d %d %d\n",
                rounded, factor, taps[0], taps[1], taps[2], wide[7], out[0], out[1], out[2]);
    return rounded == 256 && factor == 324 && matrix && matrix[12] == 64 && fixed && taps[2] == 104 && any &&
                   wide[7] == 712 && status == tapsmith::status::ok && out[0] == 25 && out[1] == 42 &&
                   tapsmith::sat_add(INT64_MAX, 1) == INT64_MAX
               ? 0
               : 1;
}
