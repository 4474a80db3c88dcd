#pragma once

#include <tapsmith/kernel.hpp>

#include <algorithm>
#include <cstddef>

namespace tapsmith::detail {

// How many table entries a tap count reaches. The tables hold DIM_MAX
// entries, so a caller's larger n must not walk past them, and a count of
// zero or less reaches none.
constexpr std::size_t reach(std::int32_t n) noexcept {
    return static_cast<std::size_t>(std::clamp(n, std::int32_t{0}, DIM_MAX));
}

}  // namespace tapsmith::detail
