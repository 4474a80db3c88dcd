// SPDX-License-Identifier: MIT
#include <tapsmith/fixed.hpp>

#include "tapsmith/detail/platform.hpp"
#include "tapsmith/detail/response.hpp"

#include <cmath>
#include <numbers>

namespace tapsmith {

const std::array<double, 512>& detail::unit_cosines() noexcept {
    // Built once, on first use (thread-safe), and never written again.
    static const std::array<double, 512> table = [] {
        std::array<double, 512> c{};
        for (std::size_t j = 0; j < c.size(); ++j) {
            c[j] = std::cos(2.0 * std::numbers::pi * (static_cast<double>(j) / 512.0));
        }
        return c;
    }();
    return table;
}

frequency_response get_frequency_response(std::int32_t n, double sigma, std::int32_t bits, sampling how,
                                          const fixed_taps& taps, const fixed_samples& gf) noexcept {
    frequency_response out{};
    if (n < 1 || n > FIXED_MAX || n % 2 == 0 || bits < 1 || bits > FIXED_BITS_MAX || !std::isfinite(sigma) ||
        !(sigma > 0.0)) {
        return out;
    }
    const double unit = std::ldexp(1.0, -bits);
    const auto fixed = [&](std::size_t i) { return static_cast<double>(taps[i]) * unit; };
    const auto floating = [&](std::size_t i) { return gf[i]; };
    constexpr double pi = std::numbers::pi;
    for (std::int32_t k = 0; k < RESPONSE_POINTS; ++k) {
        response_point& point = out[static_cast<std::size_t>(k)];
        const double f = detail::response_frequency(k);
        point.f = f;
        // sigma f, not sigma^2 first: a huge sigma must give 1 at f = 0, not inf * 0.
        const double width = sigma * f;
        point.ideal = std::exp(-2.0 * pi * pi * (width * width));
        // A pixel's area is a box of width 1, whose transform is sinc.
        if (how == sampling::area && k > 0) {
            point.ideal *= std::sin(pi * f) / (pi * f);
        }
        // At Nyquist the sums in the taps' order, as the figures print them.
        const bool nyquist = k == RESPONSE_POINTS - 1;
        point.floating = nyquist ? detail::gain_in_order(n, floating, k) : detail::gain(n, floating, k);
        point.fixed = nyquist ? detail::gain_in_order(n, fixed, k) : detail::gain(n, fixed, k);
    }
    return out;
}

status auto_dim_mask(double sigma, std::int32_t pixel_bits, std::int32_t& n) noexcept {
    n = 0;
    if (!std::isfinite(sigma) || !(sigma > 0.0)) {
        return status::bad_sigma;
    }
    if (pixel_bits < 1 || pixel_bits > PIXEL_BITS_MAX) {
        return status::bad_bits;
    }
    const double tolerance = std::ldexp(1.0, -(pixel_bits + 1));
    for (std::int32_t k = 1; k <= FIXED_MAX; k += 2) {
        if (std::erfc(static_cast<double>(k) / (2.0 * std::numbers::sqrt2 * sigma)) <= tolerance) {
            n = k;
            return status::ok;
        }
    }
    return status::none_fits;
}

}  // namespace tapsmith
