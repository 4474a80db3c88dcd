// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace tapsmith {

// to[x] = from_0[x] g_0 + from_1[x] g_1 + ... for x < w, each pixel's terms
// added left to right as written, on the widest vectors the processor runs.
void weighted_sum(double* to, const double* const* from, const double* g, std::size_t terms,
                  std::size_t w) noexcept;

// A row's squared errors (got[x step] - ref[x])^2 as eight running sums,
// pixel x in sum x mod 8, each added to in order of x: the same numbers on
// every processor and build. A row taken in pieces that start at multiples
// of 8 continues its sums from piece to piece.
struct square_lanes {
    double at[8] = {};
};
// Adds pixels 0 .. w - 1 to `lanes`, samples `step` (1 to 4) apart; the
// largest |got[x step] - ref[x]| raises `worst`.
void add_squares(const std::uint16_t* got, std::size_t step, const double* ref, std::size_t w,
                 square_lanes& lanes, double& worst) noexcept;
void add_squares(const std::uint8_t* got, std::size_t step, const double* ref, std::size_t w,
                 square_lanes& lanes, double& worst) noexcept;

// to[k] = from[k step] as doubles for k < count, `step` 1 to 4: one
// channel of a row of pixels.
void widen_samples(const std::uint16_t* from, std::size_t step, double* to, std::size_t count) noexcept;
void widen_samples(const std::uint8_t* from, std::size_t step, double* to, std::size_t count) noexcept;

// The row's sum: its running sums added pairwise.
inline double lane_total(const square_lanes& l) noexcept {
    return ((l.at[0] + l.at[1]) + (l.at[2] + l.at[3])) + ((l.at[4] + l.at[5]) + (l.at[6] + l.at[7]));
}

// The builds of them this processor runs, best first (the one above), the
// baseline last, for the tests, which check that they all agree.
std::size_t weighted_sum_loops() noexcept;
// Past the last: the baseline.
void weighted_sum_on(std::size_t loop_index, double* to, const double* const* from, const double* g,
                     std::size_t terms, std::size_t w) noexcept;
void add_squares_on(std::size_t loop_index, const std::uint16_t* got, std::size_t step, const double* ref,
                    std::size_t w, square_lanes& lanes, double& worst) noexcept;
void add_squares_on(std::size_t loop_index, const std::uint8_t* got, std::size_t step, const double* ref,
                    std::size_t w, square_lanes& lanes, double& worst) noexcept;
void widen_samples_on(std::size_t loop_index, const std::uint16_t* from, std::size_t step, double* to,
                      std::size_t count) noexcept;
void widen_samples_on(std::size_t loop_index, const std::uint8_t* from, std::size_t step, double* to,
                      std::size_t count) noexcept;
}  // namespace tapsmith
