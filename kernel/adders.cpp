// SPDX-License-Identifier: MIT
// What a filter pass costs in adders when it multiplies by shifting.
#include <tapsmith/fixed.hpp>

#include <cstddef>
#include <cstdint>

namespace tapsmith {

signed_digits get_signed_digits(std::int64_t value) noexcept {
    signed_digits out;
    if (value <= 0) {
        return out;
    }
    // Lowest digit first: an odd remainder takes +1 when it is 1 modulo 4
    // and -1 when it is 3, which leaves the next digit 0. Unsigned, since
    // INT64_MAX + 1 is one of the remainders.
    signed_digit low_first[32];
    std::int32_t count = 0;
    auto v = static_cast<std::uint64_t>(value);
    for (std::int32_t shift = 0; v != 0; ++shift, v >>= 1U) {
        if ((v & 1U) != 0) {
            const bool minus = (v & 3U) == 3U;
            low_first[count++] = {minus ? -1 : 1, shift};
            v = minus ? v + 1 : v - 1;
        }
    }
    out.count = count;
    for (std::int32_t k = 0; k < count; ++k) {
        out.digits[static_cast<std::size_t>(k)] = low_first[count - 1 - k];
    }
    return out;
}

adder_plan get_adder_plan(std::int32_t n, const fixed_taps& taps) noexcept {
    if (n < 1 || n > FIXED_MAX || n % 2 == 0) {
        return {};
    }
    const auto size = static_cast<std::size_t>(n);
    const std::size_t m = size / 2;
    for (std::size_t i = 0; i < size; ++i) {
        if (taps[i] < 0 || taps[i] != taps[size - 1 - i]) {
            return {};
        }
    }
    adder_plan plan;
    std::int32_t products = 0;
    for (std::size_t k = 0; k <= m; ++k) {
        if (taps[k] == 0) {
            continue;
        }
        ++products;
        plan.pre_adds += k < m ? 1 : 0;
        plan.digit_adders += get_signed_digits(taps[k]).count - 1;
    }
    plan.tree_adders = products > 0 ? products - 1 : 0;
    plan.per_pass = plan.pre_adds + plan.digit_adders + plan.tree_adders;
    return plan;
}

}  // namespace tapsmith
