// SPDX-License-Identifier: MIT
#include <tapsmith/kernel.hpp>

#include "saturating.hpp"

#include <algorithm>
#include <cmath>

namespace tapsmith {

namespace {

// How far each free tap may stray from its ideal value. The optimum's
// largest deviation is about one unit, so its taps lie well inside (the
// tests compare with a search of +-5 that finds the same taps); and rounding
// every outer tap down always lies inside, so the search never comes up
// empty.
constexpr double window = 3.0;

// The three rules as one key, compared lexicographically, smaller first: the
// largest deviation, the sum of squared deviations, then the taps from the
// centre outward, negated so that larger taps come first (exact: at most 2^30).
using score = std::array<double, 2 + DIM_MAX / 2 + 1>;

}  // namespace

bool get_fixed_coeffs(std::int32_t n, double sigma, std::int32_t bits, int_table& out) noexcept {
    out.fill(0);
    if (n < 1 || n > DIM_MAX || n % 2 == 0 || bits < 1 || bits > 30 || !std::isfinite(sigma) ||
        !(sigma > 0.0)) {
        return false;
    }
    const auto taps = static_cast<std::size_t>(n);
    const std::size_t centre = taps / 2;
    samples_table samples{};
    for (std::int32_t i = 0; i < n; ++i) {
        samples[static_cast<std::size_t>(i)] = gaussian_sampling(n, i, sigma);
    }
    samples_table normalised{};
    get_float_coeffs(n, samples, normalised);
    const std::int64_t total = std::int64_t{1} << bits;
    samples_table ideal{};
    for (std::size_t i = 0; i < taps; ++i) {
        ideal[i] = static_cast<double>(total) * normalised[i];
        // 2 sigma^2 underflowing to 0 makes the centre 0/0.
        if (!std::isfinite(ideal[i])) {
            return false;
        }
    }

    // The outer taps left of the centre are free; symmetry fixes the right
    // half and the exact sum fixes the centre. An odometer walks every
    // combination inside the window.
    int_table low{};
    int_table high{};
    for (std::size_t i = 0; i < centre; ++i) {
        low[i] = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil(ideal[i] - window)));
        high[i] = static_cast<std::int64_t>(std::floor(ideal[i] + window));
    }
    int_table t = low;
    int_table best{};
    score best_score{};
    bool found = false;
    while (true) {
        std::int64_t outer = 0;
        bool monotone = true;
        for (std::size_t i = 0; i < centre; ++i) {
            outer += t[i];
            monotone = monotone && (i == 0 || t[i - 1] <= t[i]);
        }
        const std::int64_t middle = total - 2 * outer;
        if (monotone && middle >= 0 && (centre == 0 || middle >= t[centre - 1])) {
            int_table full{};
            for (std::size_t i = 0; i < centre; ++i) {
                full[i] = t[i];
                full[taps - 1 - i] = t[i];
            }
            full[centre] = middle;
            score key{};
            for (std::size_t i = 0; i < taps; ++i) {
                const double dev = std::fabs(static_cast<double>(full[i]) - ideal[i]);
                key[0] = std::fmax(key[0], dev);
                key[1] += dev * dev;
            }
            for (std::size_t k = 0; k <= centre; ++k) {
                key[2 + k] = -static_cast<double>(full[centre - k]);
            }
            if (!found ||
                std::lexicographical_compare(key.begin(), key.end(), best_score.begin(), best_score.end())) {
                best = full;
                best_score = key;
                found = true;
            }
        }
        std::size_t k = 0;
        while (k < centre && t[k] == high[k]) {
            t[k] = low[k];
            ++k;
        }
        if (k == centre) {
            break;
        }
        ++t[k];
    }
    if (found) {
        out = best;
    }
    return found;
}

}  // namespace tapsmith
