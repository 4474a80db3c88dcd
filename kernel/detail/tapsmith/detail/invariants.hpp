// SPDX-License-Identifier: MIT
// What the tests and the fuzzer demand of every power-of-two entry.
#pragma once

#include <cstdint>
#include <limits>

namespace tapsmith::detail {

// 2^63 does not fit in 64 bits and saturates to INT64_MAX.
inline bool is_pow2_or_zero(std::int64_t v) {
    return v == 0 || v == std::numeric_limits<std::int64_t>::max() || (v > 0 && (v & (v - 1)) == 0);
}

}  // namespace tapsmith::detail
