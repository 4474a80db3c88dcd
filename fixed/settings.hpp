// SPDX-License-Identifier: MIT
// What tapsmith-fixed computes from, checked and completed the same way for
// the command line and for the Python module, with the same messages.
#pragma once

#include <tapsmith/fixed.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tapsmith {

struct fixed_settings {
    std::int32_t n = 0;
    bool n_auto = false;  // n from the Gaussian mass the cut may leave out
    double sigma = 0.0;
    std::int32_t bits = 8;
    bool bits_auto = false;  // bits from the worst-case 2-D error
    std::int32_t pixel_bits = 8;
    sampling how = sampling::point;
    // Instead of the closest taps at bits, the cheapest in adders of all
    // B up to bits whose worst-case 2-D error stays below max_error.
    bool minimize_adders = false;
    double max_error = 1.0;
};

// The texts the values came from, for the messages (empty: the value as a number).
struct setting_texts {
    std::optional<std::string_view> n;
    std::optional<std::string_view> sigma;
};

// Checks the tap count and sigma and resolves the automatic sizes. Returns
// "", or the usage error to show, e.g. "invalid DIM_MASK (an odd number
// from 1 to 127, or auto): '4'".
std::string check_settings(fixed_settings& s, const setting_texts& shown = {});

// Messages of the option values, shared with the Python module.
inline constexpr std::string_view bad_bits = "invalid bits (1 to 30, or auto):";
inline constexpr std::string_view bad_pixel_bits = "invalid pixel bits (1 to 32):";
inline constexpr std::string_view bad_sampling = "invalid sampling (point or area):";
inline constexpr std::string_view bad_border = "invalid border (reflect101, replicate or zero):";
inline constexpr std::string_view bad_minimize = "invalid minimize (adders):";
inline constexpr std::string_view bad_max_error = "invalid max error (a number of LSB above 0.5):";

// The message when no taps meet the bound of minimize_adders.
std::string no_cheapest_taps(const fixed_settings& s);

// "WHAT 'TEXT'", the shape of every usage error.
std::string quoted(std::string_view what, std::string_view text);

// The name the option and the JSON output use.
std::string_view sampling_name(sampling how) noexcept;

}  // namespace tapsmith
