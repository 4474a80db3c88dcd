// SPDX-License-Identifier: MIT
#include "tapsmith/cli/numbers.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tapsmith::cli {

namespace {

// from_chars takes no '+'; strtod and strtol do, so one is allowed before a
// number (not before another sign).
std::string_view drop_plus(std::string_view text) noexcept {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

bool starts_with_hex(std::string_view text) noexcept {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

}  // namespace

std::optional<std::int64_t> read_integer(std::string_view text, std::int64_t low,
                                         std::int64_t high) noexcept {
    text = drop_plus(text);
    std::int64_t value = 0;
    const std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || r.ec != std::errc{} || r.ptr != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> read_real(std::string_view text) noexcept {
    text = drop_plus(text);
    const bool negative = !text.empty() && text[0] == '-';
    std::string_view digits = negative ? text.substr(1) : text;
    std::chars_format format = std::chars_format::general;
    if (starts_with_hex(digits)) {
        digits.remove_prefix(2);
        format = std::chars_format::hex;
        // "0x" alone, or "0x-1", is no number.
        if (digits.empty() || digits[0] == '-' || digits[0] == '+') {
            return std::nullopt;
        }
    } else if (negative && (digits.empty() || digits[0] == '-' || digits[0] == '+')) {
        return std::nullopt;
    }
    double value = 0.0;
    const std::from_chars_result r =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, format);
    // A subnormal result is a number strtod gives too; only an overflow or
    // an underflow to zero is out of range.
    if (digits.empty() || r.ptr != digits.data() + digits.size() ||
        (r.ec != std::errc{} &&
         !(r.ec == std::errc::result_out_of_range && value != 0.0 && std::isfinite(value)))) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace tapsmith::cli
