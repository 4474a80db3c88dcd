// SPDX-License-Identifier: MIT
// Names of the kernel tests' parameterised cases: readable, the same on
// every run, and printable, so that GoogleTest never falls back to dumping
// a row's bytes (padding included, which differs from run to run).
#pragma once

#include <tapsmith/fixed.hpp>

#include <cctype>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

namespace tapsmith {

inline const char* name_of(sampling how) {
    return how == sampling::area ? "area" : "point";
}

// GoogleTest prints a row's sampling through this rather than as bytes.
// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
inline void PrintTo(sampling how, std::ostream* os) {
    *os << name_of(how);
}

}  // namespace tapsmith

namespace tapsmith::testing_names {

// "n5 sigma1.5 bits8 point": the fields that tell cases apart, a space
// between them; 0 leaves a field out.
inline std::string row_name(std::int32_t n, double sigma, std::int32_t bits, std::int32_t pixel_bits,
                            sampling how) {
    std::ostringstream s;
    s << "n" << n;
    if (sigma != 0.0) {
        // The shortest text that reads back as sigma: 0.6, not 0.59999999999999998.
        char text[32];
        const char* end = std::to_chars(std::begin(text), std::end(text), sigma).ptr;
        s << " sigma" << std::string_view(text, static_cast<std::size_t>(end - text));
    }
    if (bits != 0) {
        s << " bits" << bits;
    }
    if (pixel_bits != 0) {
        s << " p" << pixel_bits;
    }
    s << ' ' << name_of(how);
    return s.str();
}

// The same as a test name, which takes letters, digits and underscores
// only: "n5_sigma1p5_bits8_point" (1e-05 becomes 1em05).
inline std::string test_name(const std::string& row) {
    std::string s;
    for (const char ch : row) {
        s += std::isalnum(static_cast<unsigned char>(ch)) != 0 ? ch : ch == '.' ? 'p' : ch == '-' ? 'm' : '_';
    }
    return s;
}

}  // namespace tapsmith::testing_names
