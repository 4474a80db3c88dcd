// SPDX-License-Identifier: MIT
// tapsmith fixed point: Gaussian filters of any odd size up to FIXED_MAX taps
// whose integer taps sum to exactly 2^bits, so that a right shift normalises
// them; their worst-case output error, their frequency response, and the
// filter itself on images (the golden model hardware is checked against).
//
// Plain data and free functions; nothing here allocates except blur's row
// buffers and get_fixed_taps' table for long flat filters, and nothing
// throws.
#pragma once

#if __cplusplus < 201703L
#error "<tapsmith/fixed.hpp> needs C++17 or later"
#else

#include <tapsmith/kernel.hpp>

#include <array>
#include <cstddef>
#include <cstdint>

namespace tapsmith {

// The longest filter, and the widest taps (their 2-D products stay below 2^60).
inline constexpr std::int32_t FIXED_MAX = 127;
inline constexpr std::int32_t FIXED_BITS_MAX = 30;
// Pixel widths the error figures accept.
inline constexpr std::int32_t PIXEL_BITS_MAX = 32;

// How a tap's value is taken from the Gaussian: its value at the tap's
// centre, or its mass over the tap's pixel (better for small sigma).
enum class sampling { point, area };

using fixed_samples = std::array<double, FIXED_MAX>;
using fixed_taps = std::array<std::int64_t, FIXED_MAX>;

// ---- Taps ---------------------------------------------------------------------
// The normalised samples GF of an n-tap filter (entries 0 .. n-1, the rest
// 0): point samples are gaussian_sampling's formula, area samples
// 0.5 * (erfc((e - 0.5) / (sigma * M_SQRT2)) - erfc((e + 0.5) / (sigma * M_SQRT2)))
// for e = |i - (n-1)/2|, both normalised as get_float_coeffs does. False,
// with gf all zero, when n is not odd in 1 .. FIXED_MAX, sigma is not finite
// and positive, the samples are not numbers (2 sigma^2 underflows to 0), or
// area samples rise from the centre outward (beyond sigma of about 1.7e5
// erfc's rounding outweighs the Gaussian's fall).
TAPSMITH_API bool get_fixed_samples(std::int32_t n, double sigma, sampling how, fixed_samples& gf) noexcept;

// Of all integer kernels that are symmetric, non-negative, non-increasing
// from the centre outward and sum to exactly 2^bits, the one with the
// smallest largest deviation from r_i = 2^bits GF_i, then the smallest sum of
// squared deviations, then the larger taps from the centre outward. False,
// with taps all zero, when get_fixed_samples fails, bits is outside
// 1 .. FIXED_BITS_MAX, or memory for the search table runs out (filters
// with a long flat top need up to about a megabyte; most need none).
TAPSMITH_API bool get_fixed_taps(std::int32_t n, double sigma, std::int32_t bits, sampling how,
                                 fixed_taps& taps) noexcept;

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
TAPSMITH_API fixed_figures get_fixed_figures(std::int32_t n, std::int32_t bits, std::int32_t pixel_bits,
                                             const fixed_taps& taps, const fixed_samples& gf) noexcept;

// H(f) = sum_i w_i cos(2 pi f d_i) at f_k = k / 512, k = 0 .. 256.
inline constexpr std::int32_t RESPONSE_POINTS = 257;
struct response_point {
    double f = 0.0;
    double ideal = 0.0;     // e^(-2 pi^2 sigma^2 f^2), times sinc(f) for area sampling
    double floating = 0.0;  // w = GF
    double fixed = 0.0;     // w = t 2^-bits
};
using frequency_response = std::array<response_point, RESPONSE_POINTS>;
TAPSMITH_API frequency_response get_frequency_response(std::int32_t n, double sigma, std::int32_t bits,
                                                       sampling how, const fixed_taps& taps,
                                                       const fixed_samples& gf) noexcept;

// ---- Sizes from the error a user accepts ---------------------------------------
// The smallest odd n whose Gaussian mass outside [-n/2, n/2],
// erfc(n / (2 * M_SQRT2 * sigma)), is at most 2^-(pixel_bits + 1); 0 when
// that n is above FIXED_MAX or sigma is not finite and positive.
TAPSMITH_API std::int32_t auto_dim_mask(double sigma, std::int32_t pixel_bits) noexcept;

// The smallest bits in 1 .. FIXED_BITS_MAX whose taps have worst_error_2d
// below 1; 0 when there is none.
TAPSMITH_API std::int32_t auto_bits(std::int32_t n, double sigma, std::int32_t pixel_bits,
                                    sampling how) noexcept;

// ---- The filter (golden model) ---------------------------------------------------
// Output (x, y) = (sum_ij t_i t_j p(x + j - m, y + i - m) + 2^(2B-1)) >> 2B,
// m = (n-1)/2, exact: one rounding, half up, at the very end. Outside the
// image, an index q of a line of length L reads
//   reflect101: q = -q while q < 0, q = 2L - q - 2 while q >= L (L = 1: 0);
//   replicate:  the nearest edge pixel;
//   zero:       the value 0.
enum class border { reflect101, replicate, zero };

enum class blur_status {
    ok,
    bad_size,   // width or height outside 1 .. 65535, channels outside 1 .. 4, or in or out null
    bad_taps,   // n not odd in 1 .. FIXED_MAX, a tap negative, or the taps not summing to 2^bits
    bad_bits,   // pixel_bits outside 1 .. 16, bits outside 1 .. FIXED_BITS_MAX, or pixel_bits + 2 bits above
                // 64
    bad_pixel,  // an input pixel above 2^pixel_bits - 1
    out_of_memory,
};

// One short lower-case message per status, for the programs to show.
TAPSMITH_API const char* describe(blur_status status) noexcept;

// Images are interleaved: pixel (x, y) channel c sits at
// (y * width + x) * channels + c; each channel is filtered on its own. in
// and out must not overlap. On any status but ok, out is left untouched.
TAPSMITH_API blur_status blur(const std::uint8_t* in, std::uint8_t* out, std::size_t width,
                              std::size_t height, std::size_t channels, std::int32_t n,
                              const std::int64_t* taps, std::int32_t bits, std::int32_t pixel_bits,
                              border how) noexcept;
TAPSMITH_API blur_status blur(const std::uint16_t* in, std::uint16_t* out, std::size_t width,
                              std::size_t height, std::size_t channels, std::int32_t n,
                              const std::int64_t* taps, std::int32_t bits, std::int32_t pixel_bits,
                              border how) noexcept;

}  // namespace tapsmith

#endif  // C++17
