// SPDX-License-Identifier: MIT
// tapsmith fixed point: Gaussian filters of any odd size up to FIXED_MAX taps
// whose integer taps sum to exactly 2^bits, so that a right shift normalises
// them; their worst-case output error, their frequency response, and the
// filter itself on images (the golden model hardware is checked against).
//
// Plain data and free functions; nothing here allocates except blur's row
// buffers (and its threads, when asked for) and get_fixed_taps' table for
// long flat filters, and nothing throws. Every function that can fail returns a status (ok or the reason)
// and writes its results through its last parameters.
#pragma once

#if __cplusplus < 201703L
#error "<tapsmith/fixed.hpp> needs C++17 or later"
#else

#include <tapsmith/kernel.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tapsmith {

// The longest filter, and the widest taps (their 2-D products stay below 2^60).
inline constexpr std::int32_t FIXED_MAX = 127;
inline constexpr std::int32_t FIXED_BITS_MAX = 30;
// Pixel widths the error figures accept.
inline constexpr std::int32_t PIXEL_BITS_MAX = 32;

// Why a call failed, or ok.
enum class status {
    ok,
    bad_count,  // the tap count n is not odd in 1 .. FIXED_MAX
    bad_sigma,  // sigma is not finite and positive, or gives samples that are not numbers
    bad_bits,   // bits outside 1 .. FIXED_BITS_MAX, pixel bits outside their range, or the sums
                // would pass 64 bits
    bad_taps,   // taps negative, or not summing to 2^bits
    bad_size,   // an image side outside 1 .. 65535, channels outside 1 .. 4, or a null image
    bad_pixel,  // an input pixel above 2^pixel_bits - 1
    none_fits,  // no size in the range searched meets the bound asked for
    out_of_memory,
};

// One short lower-case message per status, for the programs to show.
[[nodiscard]] TAPSMITH_API const char* describe(status s) noexcept;

// How a tap's value is taken from the Gaussian: its value at the tap's
// centre, or its mass over the tap's pixel (better for small sigma).
enum class sampling { point, area };

using fixed_samples = std::array<double, FIXED_MAX>;
using fixed_taps = std::array<std::int64_t, FIXED_MAX>;

// ---- Taps ---------------------------------------------------------------------
// The normalised samples GF of an n-tap filter (entries 0 .. n-1, the rest
// 0): point samples are gaussian_sampling's formula, area samples
// 0.5 * (erfc((e - 0.5) / (sigma * M_SQRT2)) - erfc((e + 0.5) / (sigma * M_SQRT2)))
// for e = |i - (n-1)/2|, both normalised as get_float_coeffs does. On
// failure gf is all zero: bad_count, or bad_sigma when sigma is not finite
// and positive, the samples are not numbers (2 sigma^2 underflows to 0), or
// area samples rise from the centre outward (beyond sigma of about 1.7e5
// erfc's rounding outweighs the Gaussian's fall).
[[nodiscard]] TAPSMITH_API status get_fixed_samples(std::int32_t n, double sigma, sampling how,
                                                    fixed_samples& gf) noexcept;

// Of all integer kernels that are symmetric, non-negative, non-increasing
// from the centre outward and sum to exactly 2^bits, the one with the
// smallest largest deviation from r_i = 2^bits GF_i, then the smallest sum of
// squared deviations, then the larger taps from the centre outward. On
// failure taps is all zero: get_fixed_samples' statuses, bad_bits for bits
// outside 1 .. FIXED_BITS_MAX, or out_of_memory for the search table
// (filters with a long flat top need up to about a megabyte; most need none).
[[nodiscard]] TAPSMITH_API status get_fixed_taps(std::int32_t n, double sigma, std::int32_t bits,
                                                 sampling how, fixed_taps& taps) noexcept;

// ---- What the taps do -----------------------------------------------------------
struct fixed_figures {
    std::int64_t sum = 0;         // of the taps: 2^bits
    double max_error = 0.0;       // max_i |t_i 2^-B - GF_i|
    std::int64_t mask_sum = 0;    // of the 2-D mask t_i t_j: 2^(2 bits)
    double mask_max_error = 0.0;  // max_ij |t_i t_j 2^-2B - GF_i GF_j|
    // Worst-case error of the filtered output in units of its last bit,
    // over all P-bit inputs: (2^P - 1) * 0.5 * sum |t 2^-B - GF| + 0.5 for
    // the 1-D pass, the same over the 2-D mask for the separable filter.
    double worst_error_1d = 0.0;
    double worst_error_2d = 0.0;
    double nyquist_gain = 0.0;            // H_fixed(0.5)
    double float_nyquist_gain = 0.0;      // H_float(0.5)
    double response_max_deviation = 0.0;  // max_k |H_fixed(f_k) - H_float(f_k)|
};

// Figures of taps (entries 0 .. n-1, summing to 2^bits) against gf.
[[nodiscard]] TAPSMITH_API fixed_figures get_fixed_figures(std::int32_t n, std::int32_t bits,
                                                           std::int32_t pixel_bits, const fixed_taps& taps,
                                                           const fixed_samples& gf) noexcept;

// H(f) = sum_i w_i cos(2 pi f d_i) at f_k = k / 512, k = 0 .. 256.
inline constexpr std::int32_t RESPONSE_POINTS = 257;
struct response_point {
    double f = 0.0;
    double ideal = 0.0;     // e^(-2 pi^2 sigma^2 f^2), times sinc(f) for area sampling
    double floating = 0.0;  // w = GF
    double fixed = 0.0;     // w = t 2^-bits
};
using frequency_response = std::array<response_point, RESPONSE_POINTS>;
[[nodiscard]] TAPSMITH_API frequency_response get_frequency_response(std::int32_t n, double sigma,
                                                                     std::int32_t bits, sampling how,
                                                                     const fixed_taps& taps,
                                                                     const fixed_samples& gf) noexcept;

// ---- The adder plan: a pass without multipliers ----------------------------------
// A value as its canonical signed digits (its non-adjacent form): the fewest
// signed powers of two that sum to it, no two at neighbouring positions,
// largest first. 874 = 2^10 - 2^7 - 2^5 + 2^3 + 2^1.
struct signed_digit {
    std::int32_t sign = 0;   // +1 or -1
    std::int32_t shift = 0;  // the power of two
};
struct signed_digits {
    std::int32_t count = 0;
    std::array<signed_digit, 32> digits{};
};

// The digits of a value from 0 to INT64_MAX (count 0 for 0 or a negative value).
[[nodiscard]] TAPSMITH_API signed_digits get_signed_digits(std::int64_t value) noexcept;

// The adders of one pass of the filter when every product is shifts and
// adds over the taps' signed digits, as the HDL cores build it for
// symmetric taps (n odd, m = (n-1)/2, distinct taps t_0 .. t_m, t_m the
// centre): mirrored samples added before they are multiplied, one adder
// for every digit of a distinct tap beyond its first, and a tree summing
// the products. Taps of 0 cost nothing. The 2-D filter builds two passes;
// the rounding constant is not counted.
struct adder_plan {
    std::int32_t pre_adds = 0;      // #{k < m : t_k != 0}
    std::int32_t digit_adders = 0;  // the sum over t_k != 0 of (digits - 1)
    std::int32_t tree_adders = 0;   // #{k <= m : t_k != 0} - 1
    std::int32_t per_pass = 0;      // the three together
};

// The plan of taps[0 .. n-1]; all zero when n is not odd in 1 .. FIXED_MAX
// or the taps are not symmetric and non-negative.
[[nodiscard]] TAPSMITH_API adder_plan get_adder_plan(std::int32_t n, const fixed_taps& taps) noexcept;

// ---- The cheapest taps: fewest adders within an error bound ------------------------
// Of every admissible kernel (symmetric, non-negative, non-increasing from
// the centre outward, summing to exactly 2^B) for every B from 1 to
// max_bits whose worst_error_2d stays below max_error, the one whose
// adder plan costs fewest adders a pass; ties go to the smaller
// worst_error_2d, then the smaller B. The search is exhaustive (a kernel
// at B is the same kernel doubled at B + 1, so one search at max_bits
// covers every B). Up to 9 taps it always finishes; longer filters stop
// after node_limit steps with the best found.
struct cheapest_search {
    double max_error = 1.0;                  // in LSB of the output; above 0.5
    std::int32_t max_bits = FIXED_BITS_MAX;  // 1 .. FIXED_BITS_MAX
    std::int64_t node_limit = 20'000'000;    // about a second; above 9 taps only
};
struct cheapest_taps {
    std::int32_t bits = 0;
    fixed_taps taps{};
    adder_plan plan{};
    double worst_error_2d = 0.0;
    bool proven = false;  // the search finished: no kernel is cheaper
};

// get_fixed_samples' statuses, bad_bits for pixel bits or max_bits out of
// range, none_fits when no kernel meets the bound (proven says whether the
// search could tell for certain). Exact for n up to 9 at every setting;
// longer filters may stop at the limit, with proven false.
[[nodiscard]] TAPSMITH_API status get_cheapest_taps(std::int32_t n, double sigma, std::int32_t pixel_bits,
                                                    sampling how, const cheapest_search& search,
                                                    cheapest_taps& out) noexcept;

// ---- Sizes from the error a user accepts ---------------------------------------
// n: the smallest odd n whose Gaussian mass outside [-n/2, n/2],
// erfc(n / (2 * M_SQRT2 * sigma)), is at most 2^-(pixel_bits + 1).
// bad_sigma for a sigma that is not finite and positive, bad_bits for pixel
// bits outside 1 .. PIXEL_BITS_MAX, none_fits when that n is above
// FIXED_MAX; n is 0 on failure.
[[nodiscard]] TAPSMITH_API status auto_dim_mask(double sigma, std::int32_t pixel_bits,
                                                std::int32_t& n) noexcept;

// bits: the smallest in 1 .. FIXED_BITS_MAX whose taps have worst_error_2d
// below 1. get_fixed_samples' statuses, bad_bits for pixel bits outside
// 1 .. PIXEL_BITS_MAX, none_fits when no bits does; bits is 0 on failure.
[[nodiscard]] TAPSMITH_API status auto_bits(std::int32_t n, double sigma, std::int32_t pixel_bits,
                                            sampling how, std::int32_t& bits) noexcept;

// ---- Borders ----------------------------------------------------------------------
// What an index outside the image reads. The values are the BORDER parameter
// of the HDL cores (hdl/tapsmith_blur.sv and .vhd): never reorder them.
//   reflect101: q = -q while q < 0, q = 2L - q - 2 while q >= L (L = 1: 0);
//   replicate:  the nearest edge pixel;
//   zero:       the value 0.
enum class border : std::int32_t { reflect101 = 0, replicate = 1, zero = 2 };

struct border_entry {
    border how;
    std::string_view name;  // what the options, Python and JSON call it
};
inline constexpr std::array<border_entry, 3> borders = {{
    {border::reflect101, "reflect101"},
    {border::replicate, "replicate"},
    {border::zero, "zero"},
}};

// The HDL cores' BORDER value.
[[nodiscard]] constexpr std::int32_t hdl_code(border how) noexcept {
    return static_cast<std::int32_t>(how);
}

// The name of a border ("reflect101" for a value outside the enumeration).
[[nodiscard]] constexpr std::string_view border_name(border how) noexcept {
    for (const border_entry& e : borders) {
        if (e.how == how) {
            return e.name;
        }
    }
    return borders[0].name;
}

// The border called `name`; false, leaving how as it was, for any other text.
[[nodiscard]] constexpr bool find_border(std::string_view name, border& how) noexcept {
    for (const border_entry& e : borders) {
        if (e.name == name) {
            how = e.how;
            return true;
        }
    }
    return false;
}

// Where index q of a line of length `length` (at least 1) reads: an index in
// 0 .. length - 1, or -1 for the value 0 of the zero border.
[[nodiscard]] TAPSMITH_API std::int64_t border_index(std::int64_t q, std::int64_t length,
                                                     border how) noexcept;

// ---- The filter (golden model) ---------------------------------------------------
// Output (x, y) = (sum_ij t_i t_j p(x + j - m, y + i - m) + 2^(2B-1)) >> 2B,
// m = (n-1)/2, exact: one rounding, half up, at the very end; outside the
// image an index reads as `how` says.
struct blur_options {
    std::int32_t n = 0;                  // taps[0 .. n-1], n odd in 1 .. FIXED_MAX
    const std::int64_t* taps = nullptr;  // non-negative, summing to 2^bits
    std::int32_t bits = 0;               // 1 .. FIXED_BITS_MAX
    std::int32_t pixel_bits = 8;         // 1 .. 16, with pixel_bits + 2 bits at most 64
    border how = border::reflect101;
    // Threads that share the output rows, in contiguous bands: 0 or below
    // for one per core (std::thread::hardware_concurrency, at least 1),
    // never more than the image has rows. The output is the same for every
    // count; a thread the system refuses leaves its rows to the caller's.
    std::int32_t threads = 1;
};

// Images are interleaved: pixel (x, y) channel c sits at
// (y * width + x) * channels + c; each channel is filtered on its own.
struct image_size {
    std::size_t width = 0;     // 1 .. 65535
    std::size_t height = 0;    // 1 .. 65535
    std::size_t channels = 1;  // 1 .. 4
};

// in and out must not overlap. Statuses: bad_size, bad_count, bad_taps,
// bad_bits, bad_pixel, out_of_memory; on any but ok, out is left untouched.
[[nodiscard]] TAPSMITH_API status blur(const std::uint8_t* in, std::uint8_t* out, const image_size& size,
                                       const blur_options& options) noexcept;
[[nodiscard]] TAPSMITH_API status blur(const std::uint16_t* in, std::uint16_t* out, const image_size& size,
                                       const blur_options& options) noexcept;

// Only output rows top .. bottom - 1 (top < bottom <= height; bad_size
// otherwise), exactly as blur makes them, the rest of out untouched: in and
// out are the whole images. For callers that stream rows on or share them
// out among their own threads. bad_pixel looks only at the input rows
// these output rows read.
[[nodiscard]] TAPSMITH_API status blur_rows(const std::uint8_t* in, std::uint8_t* out, const image_size& size,
                                            const blur_options& options, std::size_t top,
                                            std::size_t bottom) noexcept;
[[nodiscard]] TAPSMITH_API status blur_rows(const std::uint16_t* in, std::uint16_t* out,
                                            const image_size& size, const blur_options& options,
                                            std::size_t top, std::size_t bottom) noexcept;

// blur_rows into `rows`, which holds output rows top .. bottom - 1 alone,
// row top first (width * channels samples each): for callers that keep a
// few rows in flight rather than a whole output image.
[[nodiscard]] TAPSMITH_API status blur_rows_to(const std::uint8_t* in, std::uint8_t* rows,
                                               const image_size& size, const blur_options& options,
                                               std::size_t top, std::size_t bottom) noexcept;
[[nodiscard]] TAPSMITH_API status blur_rows_to(const std::uint16_t* in, std::uint16_t* rows,
                                               const image_size& size, const blur_options& options,
                                               std::size_t top, std::size_t bottom) noexcept;

}  // namespace tapsmith

#endif  // C++17
