// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>

namespace tapsmith {

// to[x] = from_0[x] g_0 + from_1[x] g_1 + ... for x < w, each pixel's terms
// added left to right as written, on the widest vectors the processor runs.
void weighted_sum(double* to, const double* const* from, const double* g, std::size_t terms,
                  std::size_t w) noexcept;

// The builds of it this processor runs, best first (the one above), the
// baseline last, for the tests, which check that they all agree.
std::size_t weighted_sum_loops() noexcept;
// Past the last: the baseline.
void weighted_sum_on(std::size_t loop_index, double* to, const double* const* from, const double* g,
                     std::size_t terms, std::size_t w) noexcept;

}  // namespace tapsmith
