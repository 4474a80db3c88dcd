// SPDX-License-Identifier: MIT
// Conversions and saturating arithmetic shared by the kernel, the drivers and
// the tests. Not installed: none of it is the library's API.
#pragma once

#include <tapsmith/kernel.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

// What the printed digits depend on, whatever the platform: doubles are
// IEEE 754 binary64 and every intermediate is rounded to one (no x87 excess
// precision), and int64_t is the 64-bit two's-complement type.
static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<double>::digits == 53,
              "tapsmith's arithmetic is defined on IEEE 754 binary64 doubles");
static_assert(FLT_EVAL_METHOD == 0, "intermediates must be plain doubles (on i386 build with SSE2)");
static_assert(std::numeric_limits<std::int64_t>::digits == 63 &&
                  std::numeric_limits<std::int64_t>::min() == -std::numeric_limits<std::int64_t>::max() - 1,
              "coefficients are 64-bit two's-complement integers");

namespace tapsmith::detail {

// How many table entries a tap count reaches: the tables hold DIM_MAX
// entries, so a larger n must not walk past them, and a count of zero or
// less reaches none.
constexpr std::size_t table_reach(std::int32_t n) noexcept {
    return static_cast<std::size_t>(std::clamp(n, std::int32_t{0}, DIM_MAX));
}

// Tiny sigmas push coefficients far past 2^63 and sigma = 0 or NaN yields
// NaN; a plain cast of such doubles is undefined behaviour. Every
// double-to-integer conversion goes through here.
constexpr std::int64_t saturate_to_int64(double x) noexcept {
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

// Products and sums of huge coefficients clamp at the 64-bit limits instead
// of wrapping, so a saturated report stays monotone and defined.
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

}  // namespace tapsmith::detail
