// SPDX-License-Identifier: MIT
#include <tapsmith/kernel.hpp>

#include <tapsmith/saturating.hpp>

#include "tapsmith/detail/platform.hpp"

#include <cstdlib>

namespace tapsmith {

namespace {

// Both builders repeat the driver's path on tables of their own, so that a
// caller gets the same matrix without sharing any global state.
void build(std::int32_t n, double sigma, bool pow2, coeff_matrix& matrix, std::int64_t& factor) noexcept {
    matrix.reset();
    factor = 0;
    if (n <= 0 || n > DIM_MAX) {
        return;
    }
    const auto taps = static_cast<std::size_t>(n);
    matrix.reset(static_cast<std::int64_t*>(std::calloc(taps * taps, sizeof(std::int64_t))));
    if (!matrix) {
        return;
    }

    samples_table samples{};
    for (std::int32_t i = 0; i < n; ++i) {
        samples[static_cast<std::size_t>(i)] = gaussian_sampling(n, i, sigma);
    }
    int_table coeffs{};
    get_int_coeffs(n, samples, coeffs);

    // The factor is summed in a double, as the matrix would be by a
    // floating-point consumer; it equals the integer sum while that is exact.
    double sum = 0.0;
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            const std::int64_t product = sat_mul(coeffs[j], coeffs[i]);
            const std::int64_t entry = pow2 ? round_to_pow2(static_cast<double>(product)) : product;
            matrix[i * taps + j] = entry;
            sum = static_cast<double>(entry) + sum;
        }
    }
    factor = saturate_to_int64(sum);
}

}  // namespace

void get_custom_coeff_matrix(std::int32_t n, double sigma, coeff_matrix& matrix,
                             std::int64_t& factor) noexcept {
    build(n, sigma, false, matrix, factor);
}

void get_custom_pow2_coeff_matrix(std::int32_t n, double sigma, coeff_matrix& matrix,
                                  std::int64_t& factor) noexcept {
    build(n, sigma, true, matrix, factor);
}

}  // namespace tapsmith
