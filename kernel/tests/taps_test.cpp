// SPDX-License-Identifier: MIT
#include <tapsmith/kernel.hpp>

#include "fixed.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

namespace {

using tapsmith::int_table;
using tapsmith::samples_table;

samples_table ideal_taps(std::int32_t n, double sigma, std::int32_t bits) {
    samples_table samples{};
    for (std::int32_t i = 0; i < n; ++i) {
        samples[static_cast<std::size_t>(i)] = tapsmith::gaussian_sampling(n, i, sigma);
    }
    samples_table normalised{};
    tapsmith::get_float_coeffs(n, samples, normalised);
    for (double& r : normalised) {
        r *= std::ldexp(1.0, bits);
    }
    return normalised;
}

// Every symmetric kernel whose outer taps lie within `reach` of their ideal
// values, the best by the three rules; found here by plain recursion over a
// wider window than the kernel searches.
struct brute_force {
    std::size_t n;
    samples_table ideal;
    std::int64_t total;
    double reach;
    bool found = false;
    std::tuple<double, double, std::vector<std::int64_t>> best;  // max, sum of squares, -taps from the centre
    int_table taps{};

    void visit(std::size_t i, int_table& t) {
        const std::size_t centre = n / 2;
        if (i == centre) {
            std::int64_t outer = 0;
            for (std::size_t k = 0; k < centre; ++k) {
                outer += t[k];
                t[n - 1 - k] = t[k];
            }
            t[centre] = total - 2 * outer;
            for (std::size_t k = 0; k < centre; ++k) {
                if (t[k] > t[k + 1]) {
                    return;
                }
            }
            if (t[centre] < 0) {
                return;
            }
            double max = 0.0;
            double squares = 0.0;
            for (std::size_t k = 0; k < n; ++k) {
                const double dev = std::fabs(static_cast<double>(t[k]) - ideal[k]);
                max = std::max(max, dev);
                squares += dev * dev;
            }
            std::vector<std::int64_t> from_centre;
            for (std::size_t k = centre + 1; k-- > 0;) {
                from_centre.push_back(-t[k]);
            }
            const auto key = std::make_tuple(max, squares, from_centre);
            if (!found || key < best) {
                found = true;
                best = key;
                taps = t;
            }
            return;
        }
        for (auto v = static_cast<std::int64_t>(std::ceil(ideal[i] - reach));
             v <= static_cast<std::int64_t>(std::floor(ideal[i] + reach)); ++v) {
            if (v >= 0) {
                t[i] = v;
                visit(i + 1, t);
            }
        }
    }
};

TEST(FixedCoeffs, AreTheBestKernelThatSumsToTwoToTheBits) {
    std::size_t cases = 0;
    for (const std::int32_t n : {1, 3, 5, 7, 9}) {
        for (const double sigma : {0.2, 0.4, 0.7, 1.0, 1.5, 2.5, 5.0, 1e3}) {
            for (const std::int32_t bits : {1, 2, 3, 5, 8, 12, 16, 30}) {
                int_table got{};
                ASSERT_TRUE(tapsmith::get_fixed_coeffs(n, sigma, bits, got))
                    << n << ' ' << sigma << ' ' << bits;
                const auto taps = static_cast<std::size_t>(n);
                std::int64_t sum = 0;
                for (std::size_t i = 0; i < taps; ++i) {
                    sum += got[i];
                    EXPECT_GE(got[i], 0);
                    EXPECT_EQ(got[i], got[taps - 1 - i]);
                    if (i < taps / 2) {
                        EXPECT_LE(got[i], got[i + 1]) << n << ' ' << sigma << ' ' << bits << " tap " << i;
                    }
                }
                for (std::size_t i = taps; i < got.size(); ++i) {
                    EXPECT_EQ(got[i], 0);
                }
                EXPECT_EQ(sum, std::int64_t{1} << bits) << n << ' ' << sigma << ' ' << bits;
                brute_force reference{
                    taps, ideal_taps(n, sigma, bits), std::int64_t{1} << bits, 5.0, false, {}, {}};
                int_table scratch{};
                reference.visit(0, scratch);
                ASSERT_TRUE(reference.found);
                EXPECT_EQ(got, reference.taps) << n << ' ' << sigma << ' ' << bits;
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 5U * 8U * 8U);
    // The example everyone gets wrong: rounding and fixing the centre gives
    // 14 63 102 63 14, 1.07 units off; these are at most 0.93 off.
    int_table five{};
    ASSERT_TRUE(tapsmith::get_fixed_coeffs(5, 1.0, 8, five));
    EXPECT_EQ(five, (int_table{14, 62, 104, 62, 14, 0, 0, 0, 0}));
}

TEST(FixedCoeffs, RefuseWhatIsOutsideTheirContract) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double sigma;
        std::int32_t n;
        std::int32_t bits;
    } cases[] = {{1.0, 0, 8},
                 {1.0, -1, 8},
                 {1.0, 2, 8},
                 {1.0, 4, 8},
                 {1.0, 11, 8},
                 {1.0, 5, 0},
                 {1.0, 5, 31},
                 {1.0, 5, -8},
                 {0.0, 5, 8},
                 {-1.0, 5, 8},
                 {inf, 5, 8},
                 {-inf, 5, 8},
                 {std::nan(""), 5, 8},
                 {1e-300, 5, 8},  // 2 sigma^2 is 0
                 {1.0, std::numeric_limits<std::int32_t>::min(), 8}};
    for (const auto& c : cases) {
        int_table out;
        out.fill(7);
        EXPECT_FALSE(tapsmith::get_fixed_coeffs(c.n, c.sigma, c.bits, out))
            << c.n << ' ' << c.sigma << ' ' << c.bits;
        EXPECT_EQ(out, int_table{}) << c.n << ' ' << c.sigma << ' ' << c.bits;
    }
}

// The figures of the default example, worked out by hand from the taps
// 14 62 104 62 14 and the normalised samples.
TEST(FixedFigures, OfTheDefaultExample) {
    tapsmith::fixed_figures f{};
    ASSERT_TRUE(tapsmith::work_out_figures(5, 1.0, 8, f));
    EXPECT_EQ(f.sum, 256);
    EXPECT_EQ(f.mask_sum, 65536);
    EXPECT_EQ(f.mask[2][2], 104 * 104);
    EXPECT_EQ(f.mask[0][4], 14 * 14);
    const samples_table gf = ideal_taps(5, 1.0, 0);
    EXPECT_DOUBLE_EQ(f.max_error, std::fabs(104.0 / 256 - gf[2]));
    EXPECT_DOUBLE_EQ(f.mask_max_error, std::fabs(104.0 * 104 / 65536 - gf[2] * gf[2]));
    EXPECT_FALSE(tapsmith::work_out_figures(5, 1e-300, 8, f));
}

}  // namespace
