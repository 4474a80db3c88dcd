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

// Whether taps and samples read the same from both ends, the taps
// non-negative: then so does the mask, and its figures need a quarter of it.
bool mirrored(std::size_t count, const fixed_taps& taps, const fixed_samples& gf) {
    for (std::size_t i = 0; i < count; ++i) {
        // Equal samples, never a NaN (<= and >= say it without ==).
        const double a = gf[i];
        const double b = gf[count - 1 - i];
        if (taps[i] < 0 || taps[i] != taps[count - 1 - i] || !(a <= b && a >= b)) {
            return false;
        }
    }
    return true;
}

// The figures of a mirrored mask: each distinct entry's error worked out
// once (i, j <= m), the deviation still summed over the whole mask row by
// row, so that its rounding is that of the plain loop below. The entries'
// sum is the taps' sum squared, saturating where the plain loop's sum of
// non-negative entries would.
mask_figures mirrored_mask_figures(std::size_t count, std::int32_t bits, const fixed_taps& taps,
                                   const fixed_samples& gf) {
    const double mask_unit = std::ldexp(1.0, -2 * bits);
    const std::size_t m = count / 2;
    const std::size_t half = m + 1;
    // Only the quarter in use is written and read: no need to clear 32 kB.
    constexpr std::size_t most = std::size_t{FIXED_MAX / 2} + 1;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init,hicpp-member-init)
    std::array<double, most * most> error;
    mask_figures out;
    std::int64_t taps_sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        taps_sum = sat_add(taps_sum, taps[i]);
    }
    out.sum = sat_mul(taps_sum, taps_sum);
    for (std::size_t i = 0; i <= m; ++i) {
        for (std::size_t j = 0; j <= m; ++j) {
            const std::int64_t entry = sat_mul(taps[i], taps[j]);
            const double e = std::fabs(static_cast<double>(entry) * mask_unit - gf[i] * gf[j]);
            error[i * half + j] = e;
            out.max_error = e > out.max_error ? e : out.max_error;
        }
    }
    // Row i of the mask: its quarter row forward, then back without the
    // centre; four at a time, in order, for less loop and the same sum.
    for (std::size_t i = 0; i < count; ++i) {
        const double* row = &error[(i <= m ? i : count - 1 - i) * half];
        std::size_t j = 0;
        for (; j + 4 <= half; j += 4) {
            out.deviation += row[j];
            out.deviation += row[j + 1];
            out.deviation += row[j + 2];
            out.deviation += row[j + 3];
        }
        for (; j < half; ++j) {
            out.deviation += row[j];
        }
        j = m;
        for (; j >= 4; j -= 4) {
            out.deviation += row[j - 1];
            out.deviation += row[j - 2];
            out.deviation += row[j - 3];
            out.deviation += row[j - 4];
        }
        for (; j > 0; --j) {
            out.deviation += row[j - 1];
        }
    }
    return out;
}

mask_figures mask_figures_of(std::size_t count, std::int32_t bits, const fixed_taps& taps,
                             const fixed_samples& gf) {
    if (mirrored(count, taps, gf)) {
        return mirrored_mask_figures(count, bits, taps, gf);
    }
    const double mask_unit = std::ldexp(1.0, -2 * bits);
    mask_figures out;
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = 0; j < count; ++j) {
            // Saturating: the taps are the caller's, and need not be ours.
            const std::int64_t entry = sat_mul(taps[i], taps[j]);
            out.sum = sat_add(out.sum, entry);
            const double error = std::fabs(static_cast<double>(entry) * mask_unit - gf[i] * gf[j]);
            // Not fmax: a call each; neither operand is ever a NaN.
            out.max_error = error > out.max_error ? error : out.max_error;
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
        out.max_error = error > out.max_error ? error : out.max_error;
        deviation += error;
    }
    const mask_figures mask = mask_figures_of(count, bits, taps, gf);
    out.mask_sum = mask.sum;
    out.mask_max_error = mask.max_error;
    out.worst_error_1d = worst_error(pixel_bits, deviation);
    out.worst_error_2d = worst_error(pixel_bits, mask.deviation);

    fixed_samples weights{};
    for (std::size_t i = 0; i < count; ++i) {
        weights[i] = static_cast<double>(taps[i]) * unit;
    }
    const auto fixed = [&](std::size_t i) { return weights[i]; };
    const auto floating = [&](std::size_t i) { return gf[i]; };
    // The largest gap between the two responses, sum_d q_d cos(2 pi k d / 512)
    // with q the difference of the mirrored pairs' weights (and the centre's
    // at d = 0). cos(2 pi (256 - k) d / 512) = (-1)^d cos(2 pi k d / 512), so
    // the even and the odd distances' sums give f_k and f_(256-k) at once.
    const std::array<double, 512>& cosine = detail::unit_cosines();
    const std::size_t centre = count / 2;
    fixed_samples q{};
    for (std::size_t d = 1; d <= centre; ++d) {
        q[d] = (weights[centre - d] + weights[centre + d]) - (gf[centre - d] + gf[centre + d]);
    }
    const double q0 = weights[centre] - gf[centre];
    constexpr auto half = static_cast<std::size_t>(RESPONSE_POINTS - 1);  // 256
    for (std::size_t k = 0; k <= half / 2; ++k) {
        double even = 0.0;
        double odd = 0.0;
        // (k d) mod 512, stepped down with d.
        for (std::size_t d = centre, at = (k * centre) & 511U; d > 0; --d, at = (at - k) & 511U) {
            (d % 2 == 0 ? even : odd) += q[d] * cosine[at];
        }
        const double low = std::fabs((even + odd) + q0);
        const double high = std::fabs((even - odd) + q0);
        const double gap = low > high ? low : high;
        out.response_max_deviation = gap > out.response_max_deviation ? gap : out.response_max_deviation;
    }
    out.nyquist_gain = detail::gain_in_order(n, fixed, RESPONSE_POINTS - 1);
    out.float_nyquist_gain = detail::gain_in_order(n, floating, RESPONSE_POINTS - 1);
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
