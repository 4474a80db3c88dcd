// SPDX-License-Identifier: MIT
// The gain of a symmetric filter, shared by the response table and the
// figures so that both print the same digits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace tapsmith::detail {

// f_k = k / 512, exact.
inline double response_frequency(std::int32_t k) {
    return static_cast<double>(k) / 512.0;
}

// sum_i w[i] cos(2 pi f d_i), d_i = i - (n-1)/2, in the order of i.
template <typename Weight>
double gain(std::int32_t n, Weight weight, double f) {
    const double phase = 2.0 * std::numbers::pi * f;
    const std::int32_t centre = (n - 1) / 2;
    double h = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        h += weight(static_cast<std::size_t>(i)) * std::cos(phase * static_cast<double>(i - centre));
    }
    return h;
}

}  // namespace tapsmith::detail
