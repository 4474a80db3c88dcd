// SPDX-License-Identifier: MIT
// What the PNG readers and writers share inside this library.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tapsmith::detail {

// PNG's numbers are big-endian.
inline void put32(unsigned char* at, std::uint32_t value) noexcept {
    at[0] = static_cast<unsigned char>(value >> 24U);
    at[1] = static_cast<unsigned char>(value >> 16U);
    at[2] = static_cast<unsigned char>(value >> 8U);
    at[3] = static_cast<unsigned char>(value);
}
inline std::uint32_t get32(const unsigned char* at) noexcept {
    return (std::uint32_t{at[0]} << 24U) | (std::uint32_t{at[1]} << 16U) | (std::uint32_t{at[2]} << 8U) |
           at[3];
}

// "cannot write 'NAME': WHY"
std::string unwritten(const char* name, std::string_view why);

}  // namespace tapsmith::detail
