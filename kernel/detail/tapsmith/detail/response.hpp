// SPDX-License-Identifier: MIT
// The gain of a symmetric filter, shared by the response table and the
// figures so that both print the same digits.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace tapsmith::detail {

// f_k = k / 512, exact.
inline double response_frequency(std::int32_t k) {
    return static_cast<double>(k) / 512.0;
}

// cos(2 pi j / 512) for j = 0 .. 511. At f_k = k / 512 and whole distances
// d every cosine a response needs is one of these, j = k |d| modulo 512:
// 512 calls of cos instead of one for every tap at every frequency, each
// from an argument below 2 pi rather than one up to 2 pi 256 63, whose
// rounding would cost digits.
const std::array<double, 512>& unit_cosines() noexcept;

// sum_i w[i] cos(2 pi f_k d_i), d_i = i - (n-1)/2: the mirrored pairs
// sharing their cosine, from the outermost inward, then the centre.
template <typename Weight>
double gain(std::int32_t n, Weight weight, std::int32_t k) {
    const std::array<double, 512>& cosine = unit_cosines();
    const auto centre = static_cast<std::size_t>((n - 1) / 2);
    const auto step = static_cast<std::size_t>(k);
    double h = 0.0;
    for (std::size_t d = centre; d > 0; --d) {
        h += (weight(centre - d) + weight(centre + d)) * cosine[(step * d) & 511U];
    }
    return h + weight(centre);
}

// The same sum in the order of i, each term on its own: at the Nyquist
// frequency, where every cosine is exactly 1 or -1, it gives the very bits
// of the sum written out, rounding noise included.
template <typename Weight>
double gain_in_order(std::int32_t n, Weight weight, std::int32_t k) {
    const std::array<double, 512>& cosine = unit_cosines();
    const std::int32_t centre = (n - 1) / 2;
    double h = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t d = i < centre ? centre - i : i - centre;
        h += weight(static_cast<std::size_t>(i)) * cosine[static_cast<std::size_t>((k * d) & 511)];
    }
    return h;
}

}  // namespace tapsmith::detail
