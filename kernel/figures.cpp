// SPDX-License-Identifier: MIT
#include "fixed.hpp"

#include <cmath>

namespace tapsmith {

bool work_out_figures(std::int32_t n, double sigma, std::int32_t bits, fixed_figures& out) noexcept {
    out = fixed_figures{};
    if (!get_fixed_coeffs(n, sigma, bits, out.taps)) {
        return false;
    }
    // The same normalised taps the kernel fitted.
    samples_table samples{};
    for (std::int32_t i = 0; i < n; ++i) {
        samples[static_cast<std::size_t>(i)] = gaussian_sampling(n, i, sigma);
    }
    samples_table normalised{};
    get_float_coeffs(n, samples, normalised);

    const double unit = std::ldexp(1.0, -bits);
    const double mask_unit = std::ldexp(1.0, -2 * bits);
    const auto taps = static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < taps; ++i) {
        out.sum += out.taps[i];
        out.max_error =
            std::fmax(out.max_error, std::fabs(static_cast<double>(out.taps[i]) * unit - normalised[i]));
        for (std::size_t j = 0; j < taps; ++j) {
            out.mask[i][j] = out.taps[i] * out.taps[j];
            out.mask_sum += out.mask[i][j];
            out.mask_max_error = std::fmax(
                out.mask_max_error,
                std::fabs(static_cast<double>(out.mask[i][j]) * mask_unit - normalised[i] * normalised[j]));
        }
    }
    return true;
}

}  // namespace tapsmith
