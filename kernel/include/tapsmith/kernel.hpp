// SPDX-License-Identifier: MIT
// tapsmith kernel: integer approximations of a sampled Gaussian filter.
//
// Every function is pure and stateless. Tables carry their size in their
// type, and no function touches an index at or beyond DIM_MAX, whatever tap
// count it is handed: a count above DIM_MAX acts on the whole table, a count
// of zero or less on none of it. Values that leave the signed 64-bit range
// saturate at its limits.
#pragma once

// One clear error below C++17, and nothing after it.
#if __cplusplus < 201703L
#error "<tapsmith/kernel.hpp> needs C++17 or later"
#else

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>

// What a shared libtapsmith exports; everything else in it is hidden.
#if defined(__GNUC__)
#define TAPSMITH_API __attribute__((visibility("default")))
#else
#define TAPSMITH_API
#endif

namespace tapsmith {

inline constexpr std::int32_t DIM_MAX = 9;

using samples_table = std::array<double, DIM_MAX>;
using int_table = std::array<std::int64_t, DIM_MAX>;
using mask_table = std::array<std::array<std::int64_t, DIM_MAX>, DIM_MAX>;

// The builders allocate with calloc (zero-filled, and it checks the count
// for overflow), so the owner must release with free.
struct free_deleter {
    void operator()(std::int64_t* p) const noexcept { std::free(p); }
};
// n*n entries, row-major with row stride n: entry (i, j) sits at i*n + j.
using coeff_matrix = std::unique_ptr<std::int64_t[], free_deleter>;

// ---- One-dimensional filter -----------------------------------------------
// e^(-d^2 / (2 sigma^2)) for tap i of an n-tap filter, d its distance from
// the centre tap (n-1)/2.
TAPSMITH_API double gaussian_sampling(std::int32_t n, std::int32_t i, double sigma) noexcept;

// out[i] = samples[i] / sum(samples[0..n-1]), entries 0 .. n-1.
TAPSMITH_API void get_float_coeffs(std::int32_t n, const samples_table& samples, samples_table& out) noexcept;

// out[i] = samples[i] / samples[0], rounded half away from zero, entries 0 .. n-1.
TAPSMITH_API void get_int_coeffs(std::int32_t n, const samples_table& samples, int_table& out) noexcept;

// ---- Power-of-two rounding and mask comparison ----------------------------
// The power of two nearest to x rounded to an integer; ties go to the
// larger power, and values that round to 0 or less give 0.
TAPSMITH_API std::int64_t round_to_pow2(double x) noexcept;

// Sum of |a[i][j] - b[i][j]| over the top-left n x n block.
// NOLINTNEXTLINE(readability-identifier-naming): the name the report prints
TAPSMITH_API std::int64_t SSE(std::int32_t n, const mask_table& a, const mask_table& b) noexcept;

// ---- Self-contained matrix builders ---------------------------------------
// Build the n x n integer mask (or its power-of-two rounding) from n and
// sigma alone. The factor is the sum of the entries. For n outside
// 1 .. DIM_MAX, or when memory runs out, matrix is left empty and factor 0.
TAPSMITH_API void get_custom_coeff_matrix(std::int32_t n, double sigma, coeff_matrix& matrix,
                                          std::int64_t& factor) noexcept;
TAPSMITH_API void get_custom_pow2_coeff_matrix(std::int32_t n, double sigma, coeff_matrix& matrix,
                                               std::int64_t& factor) noexcept;

// ---- Taps for an exact shift ------------------------------------------------
// Integer taps that sum to exactly 2^bits, for hardware that normalises with
// a right shift. Of all symmetric, non-negative kernels that do not increase
// from the centre outward, out holds the one closest to 2^bits times the
// normalised samples (get_float_coeffs): the smallest largest deviation,
// then the smallest sum of squared deviations, then the larger taps from the
// centre outward. Returns false, with out all zero, when n is not odd in
// 1 .. DIM_MAX, bits is outside 1 .. 30 or sigma is not finite and positive,
// and when sigma is so small that the samples are not numbers (2 sigma^2
// underflows to 0).
TAPSMITH_API bool get_fixed_coeffs(std::int32_t n, double sigma, std::int32_t bits, int_table& out) noexcept;

}  // namespace tapsmith

#endif  // C++17
