// SPDX-License-Identifier: MIT
// The worst-case 2-D error of a set of taps, the one figure the searches
// compare taps by, computed as get_fixed_figures prints it.
#pragma once

#include <tapsmith/fixed.hpp>

#include <cstdint>

namespace tapsmith::detail {

// get_fixed_figures' worst_error_2d for taps[0 .. n-1] at bits, without the
// frequency response.
double worst_error_2d(std::int32_t n, std::int32_t bits, std::int32_t pixel_bits, const fixed_taps& taps,
                      const fixed_samples& gf) noexcept;

}  // namespace tapsmith::detail
