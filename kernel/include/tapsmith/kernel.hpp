// tapsmith kernel: integer approximations of a sampled Gaussian filter.
//
// Every function is pure and stateless. Tables carry their size in their
// type, and no function touches an index at or beyond DIM_MAX, whatever tap
// count it is handed: a count above DIM_MAX acts on the whole table, a count
// of zero or less on none of it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

namespace tapsmith {

inline constexpr std::int32_t DIM_MAX = 9;

using samples_table = std::array<double, DIM_MAX>;
using int_table = std::array<std::int64_t, DIM_MAX>;
using mask_table = std::array<std::array<std::int64_t, DIM_MAX>, DIM_MAX>;

// How many table entries a tap count reaches: the tables hold DIM_MAX
// entries, so a larger n must not walk past them, and a count of zero or
// less reaches none.
constexpr std::size_t table_reach(std::int32_t n) noexcept {
    return static_cast<std::size_t>(std::clamp(n, std::int32_t{0}, DIM_MAX));
}

// The builders allocate with calloc (zero-filled, and it checks the count
// for overflow), so the owner must release with free.
struct free_deleter {
    void operator()(std::int64_t* p) const noexcept { std::free(p); }
};
// n*n entries, row-major with row stride n: entry (i, j) sits at i*n + j.
using coeff_matrix = std::unique_ptr<std::int64_t[], free_deleter>;

// ---- Conversions and saturating arithmetic --------------------------------
// Tiny sigmas push coefficients far past 2^63 and sigma = 0 or NaN yields
// NaN; a plain cast of such doubles is undefined behaviour. Every
// double-to-integer conversion goes through here.
constexpr std::int64_t saturate_to_int64(double x) noexcept {
    constexpr double two63 = 9223372036854775808.0;
    if (x != x) {
        return 0;
    }
    if (x >= two63) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (x < -two63) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(x);
}

// Products and sums of huge coefficients clamp at the 64-bit limits instead
// of wrapping, so a saturated report stays monotone and defined.
constexpr std::int64_t sat_add(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) {
        return a < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    return r;
}

constexpr std::int64_t sat_sub(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) {
        return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return r;
}

constexpr std::int64_t sat_mul(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) {
        return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min()
                                  : std::numeric_limits<std::int64_t>::max();
    }
    return r;
}

constexpr std::int64_t sat_abs(std::int64_t a) noexcept {
    return a == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max()
                                                         : (a < 0 ? -a : a);
}

// ---- One-dimensional filter -----------------------------------------------
// e^(-d^2 / (2 sigma^2)) for tap i of an n-tap filter, d its distance from
// the centre tap (n-1)/2.
double gaussian_sampling(std::int32_t n, std::int32_t i, double sigma) noexcept;

// out[i] = samples[i] / sum(samples[0..n-1]), entries 0 .. n-1.
void get_float_coeffs(std::int32_t n, const samples_table& samples, samples_table& out) noexcept;

// out[i] = samples[i] / samples[0], rounded half away from zero, entries 0 .. n-1.
void get_int_coeffs(std::int32_t n, const samples_table& samples, int_table& out) noexcept;

// ---- Power-of-two rounding and mask comparison ----------------------------
// The power of two nearest to x rounded to an integer; ties go to the
// larger power, and values that round to 0 or less give 0.
std::int64_t round_to_pow2(double x) noexcept;

// Sum of |a[i][j] - b[i][j]| over the top-left n x n block.
// NOLINTNEXTLINE(readability-identifier-naming): the name the report prints
std::int64_t SSE(std::int32_t n, const mask_table& a, const mask_table& b) noexcept;

// ---- Self-contained matrix builders ---------------------------------------
// Build the n x n integer mask (or its power-of-two rounding) from n and
// sigma alone. The factor is the sum of the entries. For n outside
// 1 .. DIM_MAX, or when memory runs out, matrix is left empty and factor 0.
void get_custom_coeff_matrix(std::int32_t n, double sigma, coeff_matrix& matrix,
                             std::int64_t& factor) noexcept;
void get_custom_pow2_coeff_matrix(std::int32_t n, double sigma, coeff_matrix& matrix,
                                  std::int64_t& factor) noexcept;

}  // namespace tapsmith
