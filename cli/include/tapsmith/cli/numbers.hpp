// SPDX-License-Identifier: MIT
// Numbers read whole from command-line arguments: the text must be one
// number and nothing else (no blanks, no trailing characters), inside the
// range asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tapsmith::cli {

// Decimal, with an optional sign.
std::optional<std::int64_t> read_integer(std::string_view text, std::int64_t low, std::int64_t high) noexcept;

// A decimal or hexadecimal ("0x1p-3") floating-point number with an
// optional sign, as strtod reads it, but whole; "inf" and "nan" read as
// themselves, a value beyond the double range as none.
std::optional<double> read_real(std::string_view text) noexcept;

}  // namespace tapsmith::cli
