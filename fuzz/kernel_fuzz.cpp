// SPDX-License-Identifier: MIT
// Arbitrary tap counts and sigma bit patterns through every kernel function,
// checking the invariants the report relies on. The sanitizers catch any
// access outside a table.
#include <tapsmith/kernel.hpp>

#include <tapsmith/saturating.hpp>
#include "tapsmith/detail/invariants.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

using namespace tapsmith;
using tapsmith::detail::is_pow2_or_zero;

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

template <typename T>
T take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    const std::size_t n = size < sizeof(T) ? size : sizeof(T);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer's entry point
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto n = take<std::int32_t>(data, size);
    const auto sigma_bits = take<std::uint64_t>(data, size);
    double sigma = 0.0;
    std::memcpy(&sigma, &sigma_bits, sizeof sigma);

    // The kernel bounds its own loops; n goes in unchanged.
    samples_table samples{};
    for (std::int32_t i = 0; i < n && i < DIM_MAX; ++i) {
        samples[static_cast<std::size_t>(i)] = gaussian_sampling(n, i, sigma);
    }
    (void)gaussian_sampling(n, take<std::int32_t>(data, size), sigma);
    samples_table floats{};
    get_float_coeffs(n, samples, floats);
    int_table ints{};
    get_int_coeffs(n, samples, ints);

    mask_table mask{};
    mask_table mask2{};
    const std::size_t taps = table_reach(n);
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            mask[i][j] = sat_mul(ints[j], ints[i]);
            mask2[i][j] = round_to_pow2(static_cast<double>(mask[i][j]));
            require(is_pow2_or_zero(mask2[i][j]));
        }
    }
    require(SSE(n, mask, mask) == 0);
    require(SSE(n, mask, mask2) >= 0);

    coeff_matrix matrix;
    coeff_matrix matrix2;
    std::int64_t factor = -1;
    std::int64_t factor2 = -1;
    get_custom_coeff_matrix(n, sigma, matrix, factor);
    get_custom_pow2_coeff_matrix(n, sigma, matrix2, factor2);
    if (n <= 0 || n > DIM_MAX) {
        require(!matrix && !matrix2 && factor == 0 && factor2 == 0);
    } else {
        require(matrix && matrix2);
        for (std::size_t i = 0; i < taps; ++i) {
            for (std::size_t j = 0; j < taps; ++j) {
                require(matrix[i * taps + j] == mask[i][j]);
                require(matrix2[i * taps + j] == mask2[i][j]);
            }
        }
    }

    // Taps for an exact shift: when there are any, they are symmetric and
    // sum to 2^shift; when there are none, the table is all zero.
    const std::int32_t shift = take<std::int32_t>(data, size) % 32;
    int_table fixed{};
    if (get_fixed_coeffs(n, sigma, shift, fixed)) {
        std::int64_t sum = 0;
        for (std::size_t i = 0; i < taps; ++i) {
            require(fixed[i] >= 0 && fixed[i] == fixed[taps - 1 - i]);
            sum += fixed[i];
        }
        require(sum == std::int64_t{1} << shift);
    } else {
        require(fixed == int_table{});
    }

    // Whatever is left: raw values for the rounding on its own.
    while (size > 0) {
        const auto bits = take<std::uint64_t>(data, size);
        double x = 0.0;
        std::memcpy(&x, &bits, sizeof x);
        require(is_pow2_or_zero(round_to_pow2(x)));
    }
    return 0;
}
