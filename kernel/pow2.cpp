// SPDX-License-Identifier: MIT
#include <tapsmith/kernel.hpp>

#include <tapsmith/saturating.hpp>

#include "tapsmith/detail/platform.hpp"

#include <bit>
#include <cmath>
#include <limits>

namespace tapsmith {

std::int64_t round_to_pow2(double x) noexcept {
    const double v = std::round(x);
    // log2 of 0 or of a negative number has no power to offer; NaN has none
    // either.
    if (!(v >= 1.0)) {
        return 0;
    }
    // 2^63 does not fit: it saturates like every other conversion.
    if (v >= 0x1p63) {
        return std::numeric_limits<std::int64_t>::max();
    }
    // v is an integer in [2^p, 2^(p+1)), p its binary exponent. Both
    // distances are exact there, and the lower power is nearer exactly when
    // v < 1.5 * 2^p, that is when the first fraction bit is 0; a tie (3, 6,
    // 12, ...) has it set and goes to the larger power. This is the value
    // log2 and pow would see, and gives what they give, without them.
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const int p = static_cast<int>(bits >> 52) - 1023;
    const int power = p + static_cast<int>((bits >> 51) & 1U);
    return power >= 63 ? std::numeric_limits<std::int64_t>::max() : std::int64_t{1} << power;
}

std::int64_t SSE(std::int32_t n, const mask_table& a, const mask_table& b) noexcept {
    const std::size_t taps = table_reach(n);
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            sum = sat_add(sum, sat_abs(sat_sub(a[i][j], b[i][j])));
        }
    }
    return sum;
}

}  // namespace tapsmith
