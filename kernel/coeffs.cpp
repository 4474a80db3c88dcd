// SPDX-License-Identifier: MIT
#include <tapsmith/kernel.hpp>

#include <tapsmith/saturating.hpp>

#include "tapsmith/detail/platform.hpp"

#include <cmath>

namespace tapsmith {

double gaussian_sampling(std::int32_t n, std::int32_t i, double sigma) noexcept {
    // Integer division puts the centre on the lower of the two middle taps
    // for even n, so even filters are deliberately lopsided. The arithmetic
    // is 64-bit only so that extreme n and i cannot overflow; for every
    // 32-bit result it is the same number.
    const std::int64_t centre = (std::int64_t{n} - 1) / 2;
    const std::int64_t d = std::int64_t{i} - centre;
    const double numerator = -std::pow(static_cast<double>(d), 2.0);
    const double denominator = (sigma + sigma) * sigma;
    return std::exp(numerator / denominator);
}

void get_float_coeffs(std::int32_t n, const samples_table& samples, samples_table& out) noexcept {
    const std::size_t taps = table_reach(n);
    double sum = 0.0;
    for (std::size_t i = 0; i < taps; ++i) {
        sum = samples[i] + sum;
    }
    // Multiplying by the reciprocal, as OpenCV does, is what the printed
    // digits are checked against; dividing by the sum differs in the last bit.
    const double inv = 1.0 / sum;
    for (std::size_t i = 0; i < taps; ++i) {
        out[i] = samples[i] * inv;
    }
}

void get_int_coeffs(std::int32_t n, const samples_table& samples, int_table& out) noexcept {
    // The first tap sets the scale: for odd n it is the smallest, so the
    // coefficients start at exactly 1 and the centre carries the dynamic range.
    // Above 2^53 the last digits depend on multiplying by this reciprocal
    // rather than dividing by the first tap.
    const double inv = 1.0 / samples[0];
    const std::size_t taps = table_reach(n);
    for (std::size_t i = 0; i < taps; ++i) {
        out[i] = saturate_to_int64(std::round(samples[i] * inv));
    }
}

}  // namespace tapsmith
