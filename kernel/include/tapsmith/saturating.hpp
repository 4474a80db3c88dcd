// SPDX-License-Identifier: MIT
// Bounded integer arithmetic the tables are defined with: tiny sigmas push
// coefficients far past 2^63, and a plain cast or product of such values is
// undefined behaviour, so every conversion, sum and product of coefficients
// saturates at the 64-bit limits instead, which keeps a saturated report
// monotone and defined. Also the clamp that keeps any tap count inside the
// DIM_MAX tables.
#pragma once

#if __cplusplus < 201703L
#error "<tapsmith/saturating.hpp> needs C++17 or later"
#else

#include <tapsmith/kernel.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace tapsmith {

// How many table entries a tap count reaches: the tables hold DIM_MAX
// entries, so a larger n must not walk past them, and a count of zero or
// less reaches none.
constexpr std::size_t table_reach(std::int32_t n) noexcept {
    return n <= 0 ? 0 : static_cast<std::size_t>(n < DIM_MAX ? n : DIM_MAX);
}

// NaN gives 0; values beyond the range give its nearer limit.
inline std::int64_t saturate_to_int64(double x) noexcept {
    constexpr double two63 = 9223372036854775808.0;
    if (std::isnan(x)) {
        return 0;
    }
    if (x >= two63) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (x < -two63) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(x);
}

constexpr std::int64_t sat_add(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) {
        return a < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    return r;
}

constexpr std::int64_t sat_sub(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) {
        return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return r;
}

constexpr std::int64_t sat_mul(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) {
        return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min()
                                  : std::numeric_limits<std::int64_t>::max();
    }
    return r;
}

constexpr std::int64_t sat_abs(std::int64_t a) noexcept {
    return a == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max()
                                                         : (a < 0 ? -a : a);
}

}  // namespace tapsmith

#endif  // C++17
