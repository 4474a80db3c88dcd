// SPDX-License-Identifier: MIT
#include <tapsmith/fixed.hpp>

#include <tapsmith/saturating.hpp>

#include "tapsmith/detail/mask.hpp"
#include "tapsmith/detail/platform.hpp"
#include "tapsmith/detail/response.hpp"

#include <cmath>

namespace tapsmith {

namespace {

// The 2-D mask's figures, in one order for get_fixed_figures and auto_bits.
struct mask_figures {
    std::int64_t sum = 0;
    double max_error = 0.0;
    double deviation = 0.0;  // sum_ij |t_i t_j 2^-2B - GF_i GF_j|
};

mask_figures mask_figures_of(std::size_t count, std::int32_t bits, const fixed_taps& taps,
                             const fixed_samples& gf) {
    const double mask_unit = std::ldexp(1.0, -2 * bits);
    mask_figures out;
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = 0; j < count; ++j) {
            // Saturating: the taps are the caller's, and need not be ours.
            const std::int64_t entry = sat_mul(taps[i], taps[j]);
            out.sum = sat_add(out.sum, entry);
            const double error = std::fabs(static_cast<double>(entry) * mask_unit - gf[i] * gf[j]);
            out.max_error = std::fmax(out.max_error, error);
            out.deviation += error;
        }
    }
    return out;
}

// Inputs at full scale where the taps exceed GF and 0 elsewhere (or the
// reverse) collect half the total deviation; the final rounding adds half a
// unit.
double worst_error(std::int32_t pixel_bits, double deviation) {
    return (std::ldexp(1.0, pixel_bits) - 1.0) * 0.5 * deviation + 0.5;
}

}  // namespace

double detail::worst_error_2d(std::int32_t n, std::int32_t bits, std::int32_t pixel_bits,
                              const fixed_taps& taps, const fixed_samples& gf) noexcept {
    return worst_error(pixel_bits, mask_figures_of(static_cast<std::size_t>(n), bits, taps, gf).deviation);
}

fixed_figures get_fixed_figures(std::int32_t n, std::int32_t bits, std::int32_t pixel_bits,
                                const fixed_taps& taps, const fixed_samples& gf) noexcept {
    fixed_figures out{};
    if (n < 1 || n > FIXED_MAX || n % 2 == 0 || bits < 1 || bits > FIXED_BITS_MAX || pixel_bits < 1 ||
        pixel_bits > PIXEL_BITS_MAX) {
        return out;
    }
    const double unit = std::ldexp(1.0, -bits);
    const auto count = static_cast<std::size_t>(n);
    double deviation = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        out.sum = sat_add(out.sum, taps[i]);
        const double error = std::fabs(static_cast<double>(taps[i]) * unit - gf[i]);
        out.max_error = std::fmax(out.max_error, error);
        deviation += error;
    }
    const mask_figures mask = mask_figures_of(count, bits, taps, gf);
    out.mask_sum = mask.sum;
    out.mask_max_error = mask.max_error;
    out.worst_error_1d = worst_error(pixel_bits, deviation);
    out.worst_error_2d = worst_error(pixel_bits, mask.deviation);

    const auto fixed = [&](std::size_t i) { return static_cast<double>(taps[i]) * unit; };
    const auto floating = [&](std::size_t i) { return gf[i]; };
    for (std::int32_t k = 0; k < RESPONSE_POINTS; ++k) {
        const double f = detail::response_frequency(k);
        out.response_max_deviation = std::fmax(
            out.response_max_deviation, std::fabs(detail::gain(n, fixed, f) - detail::gain(n, floating, f)));
    }
    const double nyquist = detail::response_frequency(RESPONSE_POINTS - 1);
    out.nyquist_gain = detail::gain(n, fixed, nyquist);
    out.float_nyquist_gain = detail::gain(n, floating, nyquist);
    return out;
}

status auto_bits(std::int32_t n, double sigma, std::int32_t pixel_bits, sampling how,
                 std::int32_t& bits) noexcept {
    bits = 0;
    fixed_samples gf{};
    if (const status s = get_fixed_samples(n, sigma, how, gf); s != status::ok) {
        return s;
    }
    if (pixel_bits < 1 || pixel_bits > PIXEL_BITS_MAX) {
        return status::bad_bits;
    }
    for (std::int32_t b = 1; b <= FIXED_BITS_MAX; ++b) {
        fixed_taps taps{};
        if (const status s = get_fixed_taps(n, sigma, b, how, taps); s != status::ok) {
            return s;
        }
        // Only the 2-D figure: the frequency response would cost far more.
        if (detail::worst_error_2d(n, b, pixel_bits, taps, gf) < 1.0) {
            bits = b;
            return status::ok;
        }
    }
    return status::none_fits;
}

}  // namespace tapsmith
