// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace tapsmith {

// to[x] = from_0[x] g_0 + from_1[x] g_1 + ... for x < w, each pixel's terms
// added left to right as written, on the widest vectors the processor runs.
void weighted_sum(double* to, const double* const* from, const double* g, std::size_t terms,
                  std::size_t w) noexcept;

// The sum of (got[x step] - ref[x])^2 over x < w, the same number on every
// processor and build (eight running sums, pixel x in sum x mod 8, added
// pairwise); the largest |got[x step] - ref[x]| raises `worst`.
double row_squares(const std::uint16_t* got, std::size_t step, const double* ref, std::size_t w,
                   double& worst) noexcept;
double row_squares(const std::uint8_t* got, std::size_t step, const double* ref, std::size_t w,
                   double& worst) noexcept;

// The builds of them this processor runs, best first (the one above), the
// baseline last, for the tests, which check that they all agree.
std::size_t weighted_sum_loops() noexcept;
// Past the last: the baseline.
void weighted_sum_on(std::size_t loop_index, double* to, const double* const* from, const double* g,
                     std::size_t terms, std::size_t w) noexcept;
double row_squares_on(std::size_t loop_index, const std::uint16_t* got, std::size_t step, const double* ref,
                      std::size_t w, double& worst) noexcept;
double row_squares_on(std::size_t loop_index, const std::uint8_t* got, std::size_t step, const double* ref,
                      std::size_t w, double& worst) noexcept;

}  // namespace tapsmith
