// SPDX-License-Identifier: MIT
#include <tapsmith/kernel.hpp>

#include <tapsmith/saturating.hpp>
#include "tapsmith/detail/invariants.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using tapsmith::DIM_MAX;
using tapsmith::int_table;
using tapsmith::mask_table;
using tapsmith::samples_table;
using tapsmith::detail::is_pow2_or_zero;

constexpr std::int64_t i64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t i64_min = std::numeric_limits<std::int64_t>::min();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double two63 = 9223372036854775808.0;

samples_table sample(std::int32_t n, double sigma) {
    samples_table s{};
    for (std::int32_t i = 0; i < n && i < DIM_MAX; ++i) {
        s[static_cast<std::size_t>(i)] = tapsmith::gaussian_sampling(n, i, sigma);
    }
    return s;
}

int_table int_coeffs(std::int32_t n, double sigma) {
    int_table out{};
    tapsmith::get_int_coeffs(n, sample(n, sigma), out);
    return out;
}

TEST(SaturateToInt64, TruncatesInsideAndClampsOutsideTheRange) {
    // clang-format off
    const struct {
        double in;
        std::int64_t out;
    } cases[] = {
        {0.0, 0}, {-0.0, 0}, {1.9, 1}, {-1.9, -1},
        {std::nan(""), 0}, {inf, i64_max}, {-inf, i64_min}, {two63, i64_max},
        {-two63, i64_min}, {-two63 * 2, i64_min},
        {0x1.fffffffffffffp+62, 9223372036854774784}, {-0x1.fffffffffffffp+62, -9223372036854774784}
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.in);
        EXPECT_EQ(tapsmith::saturate_to_int64(c.in), c.out);
    }
}

TEST(SaturatingArithmetic, ClampsAtTheLimitsWithTheRightSign) {
    // clang-format off
    const struct {
        char op;
        std::int64_t a, b, out;
    } cases[] = {
        {'+', 2, 3, 5}, {'+', i64_max, 1, i64_max}, {'+', i64_min, -1, i64_min}, {'+', i64_max, i64_min, -1},
        {'-', 2, 3, -1}, {'-', i64_min, 1, i64_min}, {'-', i64_max, -1, i64_max}, {'-', 0, i64_min, i64_max},
        {'*', -4, 5, -20}, {'*', i64_max, 2, i64_max}, {'*', i64_max, -2, i64_min}, {'*', i64_min, -1, i64_max},
        {'*', 3037000500, 3037000500, i64_max}
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << ' ' << c.op << ' ' << c.b);
        const std::int64_t got = c.op == '+'   ? tapsmith::sat_add(c.a, c.b)
                                 : c.op == '-' ? tapsmith::sat_sub(c.a, c.b)
                                               : tapsmith::sat_mul(c.a, c.b);
        EXPECT_EQ(got, c.out);
    }
    EXPECT_EQ(tapsmith::sat_abs(i64_min), i64_max);
    EXPECT_EQ(tapsmith::sat_abs(-7), 7);
}

TEST(GaussianSampling, CentresOnTheLowerMiddleTap) {
    const double e_half = std::exp(-0.5);
    const double e_two = std::exp(-2.0);
    const struct {
        std::int32_t n;
        double sigma;
        std::vector<double> samples;
    } cases[] = {{5, 1.0, {e_two, e_half, 1.0, e_half, e_two}},
                 {4, 1.0, {e_half, 1.0, e_half, e_two}},
                 {3, 1.0, {e_half, 1.0, e_half}},
                 {1, 1.0, {1.0}},
                 {5, -1.0, {e_two, e_half, 1.0, e_half, e_two}},  // only sigma^2 matters
                 {3, 2.0, {std::exp(-0.125), 1.0, std::exp(-0.125)}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "n=" << c.n << " sigma=" << c.sigma);
        for (std::size_t i = 0; i < c.samples.size(); ++i) {
            EXPECT_EQ(tapsmith::gaussian_sampling(c.n, static_cast<std::int32_t>(i), c.sigma), c.samples[i])
                << "tap " << i;
        }
    }
    // sigma = 0: the centre is 0/0, every other tap e^-inf.
    EXPECT_TRUE(std::isnan(tapsmith::gaussian_sampling(3, 1, 0.0)));
    EXPECT_EQ(tapsmith::gaussian_sampling(3, 0, 0.0), 0.0);
    // Extreme counts and indices stay defined.
    EXPECT_EQ(tapsmith::gaussian_sampling(std::numeric_limits<std::int32_t>::min(),
                                          std::numeric_limits<std::int32_t>::max(), 1.0),
              0.0);
}

TEST(IntCoeffs, ScaleTheFirstTapToOne) {
    const struct {
        std::int32_t n;
        double sigma;
        std::vector<std::int64_t> coeffs;
    } cases[] = {{5, 1.0, {1, 4, 7, 4, 1}},
                 {4, 1.0, {1, 2, 1, 0}},  // the last tap is smaller than the first
                 {3, 1.0, {1, 2, 1}},     // 1/e^-0.5 = 1.65 rounds up
                 {1, 1.0, {1}},
                 {9, 1.0, {1, 33, 403, 1808, 2981, 1808, 403, 33, 1}},
                 // e^-800 underflows to 0: the scale is infinite, 0 * inf is NaN.
                 {9, 0.1, {0, i64_max, i64_max, i64_max, i64_max, i64_max, i64_max, i64_max, 0}},
                 {3, 0.1, {1, i64_max, 1}},
                 // e^-728.4 is subnormal and 1/e^-728.4 overflows: every tap
                 // times the scale is infinite, the first one included.
                 {3, 0.0262, {i64_max, i64_max, i64_max}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "n=" << c.n << " sigma=" << c.sigma);
        const int_table got = int_coeffs(c.n, c.sigma);
        for (std::size_t i = 0; i < c.coeffs.size(); ++i) {
            EXPECT_EQ(got[i], c.coeffs[i]) << "tap " << i;
        }
    }
}

TEST(IntCoeffs, RoundHalvesAwayFromZero) {
    const samples_table samples{2.0, 5.0, 7.0, -5.0, -3.0, 0.999999999, 3.0, 1.0, 0.0};
    int_table out{};
    tapsmith::get_int_coeffs(DIM_MAX, samples, out);
    const int_table expected{1, 3, 4, -3, -2, 0, 2, 1, 0};
    EXPECT_EQ(out, expected);
}

// Every partial sum of these samples is a power of two, so each
// coefficient is exact: samples[i] / 2^(n-1), and an entry summed past n
// would halve them all.
TEST(Coeffs, WriteOnlyTheTapsTheyAreGivenAndNormaliseByTheirSum) {
    const samples_table samples{1.0, 1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0, 128.0};
    for (const std::int32_t n : {0, -1, -100000, std::numeric_limits<std::int32_t>::min(), 1, 2, 5, 8, 9, 10,
                                 std::numeric_limits<std::int32_t>::max()}) {
        int_table ints;
        ints.fill(-7);
        samples_table floats;
        floats.fill(-7.0);
        tapsmith::get_int_coeffs(n, samples, ints);
        tapsmith::get_float_coeffs(n, samples, floats);
        const std::size_t written = n <= 0 ? 0 : (n > DIM_MAX ? DIM_MAX : static_cast<std::size_t>(n));
        const double sum = written == 0 ? 0.0 : std::ldexp(1.0, static_cast<int>(written) - 1);
        for (std::size_t i = 0; i < static_cast<std::size_t>(DIM_MAX); ++i) {
            const bool touched = i < written;
            EXPECT_EQ(ints[i], touched ? static_cast<std::int64_t>(samples[i]) : -7)
                << "n=" << n << " tap " << i;
            EXPECT_EQ(floats[i], touched ? samples[i] / sum : -7.0) << "n=" << n << " tap " << i;
        }
    }
}

TEST(FloatCoeffs, MultiplyByTheReciprocalOfTheSum) {
    // With these samples x * (1/sum) and x / sum differ in the last bit.
    const samples_table samples{0.9, 1.0, 0.7};
    samples_table out{};
    tapsmith::get_float_coeffs(3, samples, out);
    EXPECT_EQ(out[0], 0x1.6276276276278p-2);
    EXPECT_EQ(out[1], 0x1.89d89d89d89dap-2);
    EXPECT_EQ(out[2], 0x1.13b13b13b13b2p-2);
}

TEST(RoundToPow2, PicksTheNearerPowerAndTiesGoUp) {
    // clang-format off
    const struct {
        double in;
        std::int64_t out;
    } cases[] = {
        {0, 0}, {0.4, 0}, {0.5, 1}, {1, 1}, {1.5, 2}, {2, 2},
        {2.5, 4}, {3, 4}, {5, 4}, {6, 8}, {7, 8}, {11, 8},
        {12, 16}, {24, 32}, {28, 32}, {49, 64}, {96, 128}, {289, 256},
        {324, 256}, {-0.4, 0}, {-1, 0}, {-300, 0}, {-inf, 0}, {std::nan(""), 0},
        {1024, 1024}, {0x1p40, std::int64_t{1} << 40}, {0x1p62, std::int64_t{1} << 62},
        // Above 2^31 a 32-bit distance would wrap; these are exact.
        {2147483649.0, 2147483648}, {3221225472.0, 4294967296}, {6442450944.0, 8589934592},
        {6442450943.0, 4294967296}, {7.2e10, 68719476736},
        {two63, i64_max}, {1e300, i64_max}, {inf, i64_max}
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.in);
        EXPECT_EQ(tapsmith::round_to_pow2(c.in), c.out);
    }
}

// round_to_pow2 reads the power off the binary exponent; it must give what
// the step-by-step arithmetic gives: log2, truncation, the two powers, the
// distances, ties to the larger power.
std::int64_t round_to_pow2_by_log2(double x) {
    const std::int64_t v = tapsmith::saturate_to_int64(std::round(x));
    if (v <= 0) {
        return 0;
    }
    const auto value = static_cast<double>(v);
    const std::int64_t p = tapsmith::saturate_to_int64(std::log2(value));
    const double lower = std::pow(2.0, static_cast<double>(p));
    const double upper = std::pow(2.0, static_cast<double>(p + 1));
    const double to_lower = std::fabs(lower - value);
    const double to_upper = std::fabs(upper - value);
    return tapsmith::saturate_to_int64(to_lower < to_upper ? lower : upper);
}

TEST(RoundToPow2, EqualsTheLog2AndPowArithmetic) {
    std::size_t compared = 0;
    const auto check = [&compared](double x) {
        ++compared;
        ASSERT_EQ(tapsmith::round_to_pow2(x), round_to_pow2_by_log2(x)) << "input " << x;
    };
    // Every integer and every half up to 2^20, and their negatives.
    for (std::int64_t k = 0; k <= (std::int64_t{1} << 20); ++k) {
        const auto x = static_cast<double>(k);
        check(x);
        check(x + 0.5);
        check(std::nextafter(x + 0.5, 0.0));
        check(-x);
    }
    // Around every 2^e and 1.5 * 2^e up to 2^63: nearby integers and the
    // neighbouring doubles, where the spacing exceeds 1.
    for (int e = 0; e <= 63; ++e) {
        for (const double base : {std::ldexp(1.0, e), std::ldexp(1.5, e)}) {
            for (int k = -300; k <= 300; ++k) {
                check(base + k);
            }
            double up = base;
            double down = base;
            for (int k = 0; k < 300; ++k) {
                check(up = std::nextafter(up, inf));
                check(down = std::nextafter(down, 0.0));
            }
        }
    }
    for (const double x : {0.0, -0.0, 0.49999999999999994, -0.5, -1e300, two63, 1e19, 1e300, inf, -inf,
                           std::nan(""), -std::nan("")}) {
        check(x);
    }
    EXPECT_GT(compared, std::size_t{4} << 20);
}

TEST(SSE, SumsAbsoluteDifferencesOfTheBlock) {
    mask_table a{};
    mask_table b{};
    a[0][0] = 5;
    b[0][0] = 9;
    a[1][2] = std::int64_t{1} << 40;  // a difference beyond 32 bits
    a[8][8] = 1000;                   // outside a 2x2 block, inside the full table
    a[2][1] = i64_max;
    b[2][1] = i64_min;
    const struct {
        std::int32_t n;
        const mask_table& x;
        const mask_table& y;
        std::int64_t out;
    } cases[] = {{2, a, b, 4},  {2, b, a, 4},       {9, a, a, 0}, {0, a, b, 0},
                 {-5, a, b, 0}, {3, a, b, i64_max}, {9, b, b, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "n=" << c.n);
        EXPECT_EQ(tapsmith::SSE(c.n, c.x, c.y), c.out);
    }
}

// The report's two default masks, as printed.
TEST(SSE, OfTheDefaultMasksIs35) {
    const std::int64_t taps[] = {1, 4, 7, 4, 1};
    const std::int64_t pow2_taps[] = {1, 4, 8, 4, 1};
    mask_table mask{};
    mask_table mask2{};
    for (std::size_t i = 0; i < 5; ++i) {
        for (std::size_t j = 0; j < 5; ++j) {
            mask[i][j] = taps[i] * taps[j];
            mask2[i][j] = pow2_taps[i] * pow2_taps[j];
        }
    }
    EXPECT_EQ(tapsmith::SSE(5, mask, mask2), 35);
}

// Each expected matrix is the outer product of one row of taps, entry (i, j)
// at i*n + j: 1 4 7 4 1 / 4 16 28 16 4 / ... and 1 4 8 4 1 / 4 16 32 16 4 / ...
TEST(Builders, DeliverTheOuterProductOfTheirTaps) {
    using builder = void (*)(std::int32_t, double, tapsmith::coeff_matrix&, std::int64_t&) noexcept;
    const builder ints = tapsmith::get_custom_coeff_matrix;
    const builder pow2s = tapsmith::get_custom_pow2_coeff_matrix;
    const struct {
        builder build;
        std::int32_t n;
        std::vector<std::int64_t> taps;
        std::int64_t factor;
    } cases[] = {{ints, 5, {1, 4, 7, 4, 1}, 289},
                 {pow2s, 5, {1, 4, 8, 4, 1}, 324},
                 {ints, 4, {1, 2, 1, 0}, 16},
                 {pow2s, 4, {1, 2, 1, 0}, 16},
                 {ints, 3, {1, 2, 1}, 16},
                 {ints, 1, {1}, 1},
                 {pow2s, 1, {1}, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.build == ints ? "integer" : "power-of-two") << " builder, n=" << c.n);
        tapsmith::coeff_matrix m;
        std::int64_t factor = 0;
        c.build(c.n, 1.0, m, factor);
        ASSERT_TRUE(m);
        const std::size_t n = c.taps.size();
        for (std::size_t k = 0; k < n * n; ++k) {
            EXPECT_EQ(m[k], c.taps[k / n] * c.taps[k % n]) << "index " << k;
        }
        EXPECT_EQ(factor, c.factor);
    }
}

TEST(Builders, DeliverNothingOutsideOneToDimMax) {
    for (const std::int32_t n : {0, -1, -100000, std::numeric_limits<std::int32_t>::min(), DIM_MAX + 1,
                                 std::numeric_limits<std::int32_t>::max()}) {
        tapsmith::coeff_matrix m(static_cast<std::int64_t*>(std::calloc(1, sizeof(std::int64_t))));
        std::int64_t factor = 42;
        SCOPED_TRACE(testing::Message() << "n=" << n);
        tapsmith::get_custom_pow2_coeff_matrix(n, 1.0, m, factor);
        EXPECT_FALSE(m);
        EXPECT_EQ(factor, 0);
        factor = 42;
        tapsmith::get_custom_coeff_matrix(n, 1.0, m, factor);
        EXPECT_FALSE(m);
        EXPECT_EQ(factor, 0);
    }
}

// A product as the tables define it, computed apart from the kernel's
// helpers (with the compiler's overflow check, on every architecture): the
// coefficients are never negative, so an overflow saturates at the top.
std::int64_t saturated_product(std::int64_t a, std::int64_t b) {
    std::int64_t exact = 0;
    return __builtin_mul_overflow(a, b, &exact) ? i64_max : exact;
}

// The builders must agree with the path the report takes through the
// one-dimensional functions, over a sweep that includes saturating sigmas.
TEST(Builders, AgreeWithTheOuterProductOfTheIntCoeffs) {
    std::vector<double> sigmas{0.0, -1.0, 0.1, 0.3, 10.0, 1e6};
    for (int k = 1; k <= 60; ++k) {
        sigmas.push_back(0.05 * k);
    }
    for (std::int32_t n = 1; n <= DIM_MAX; ++n) {
        for (const double sigma : sigmas) {
            const int_table gi = int_coeffs(n, sigma);
            tapsmith::coeff_matrix ints;
            tapsmith::coeff_matrix pow2s;
            std::int64_t int_factor = 0;
            std::int64_t pow2_factor = 0;
            tapsmith::get_custom_coeff_matrix(n, sigma, ints, int_factor);
            tapsmith::get_custom_pow2_coeff_matrix(n, sigma, pow2s, pow2_factor);
            SCOPED_TRACE(testing::Message() << "n=" << n << " sigma=" << sigma);
            ASSERT_TRUE(ints && pow2s);
            const auto taps = static_cast<std::size_t>(n);
            double int_sum = 0.0;
            double pow2_sum = 0.0;
            std::int64_t gi_sum = 0;
            std::int64_t exact_sum = 0;
            bool overflow = false;
            int wrong = 0;
            for (std::size_t i = 0; i < taps; ++i) {
                overflow |= __builtin_add_overflow(gi_sum, gi[i], &gi_sum);
                for (std::size_t j = 0; j < taps; ++j) {
                    const std::int64_t product = saturated_product(gi[i], gi[j]);
                    const std::size_t k = i * taps + j;
                    wrong += (ints[k] != product ||
                              pow2s[k] != round_to_pow2_by_log2(static_cast<double>(product)) ||
                              !is_pow2_or_zero(pow2s[k]))
                                 ? 1
                                 : 0;
                    EXPECT_EQ(ints[k], product) << "at " << k;
                    EXPECT_EQ(pow2s[k], round_to_pow2_by_log2(static_cast<double>(product))) << "at " << k;
                    overflow |= product == i64_max || __builtin_add_overflow(exact_sum, product, &exact_sum);
                    int_sum += static_cast<double>(product);
                    pow2_sum += static_cast<double>(pow2s[k]);
                }
            }
            ASSERT_EQ(wrong, 0);
            // While it fits in 64 bits, the 2-D factor is the square of the
            // 1-D one; while the sums are exact in a double, the builders'
            // factors are the sums.
            std::int64_t square = 0;
            if (!overflow && !__builtin_mul_overflow(gi_sum, gi_sum, &square)) {
                EXPECT_EQ(exact_sum, square);
            }
            if (int_sum < 0x1p53 && pow2_sum < 0x1p53) {
                EXPECT_EQ(int_factor, static_cast<std::int64_t>(int_sum));
                EXPECT_EQ(pow2_factor, static_cast<std::int64_t>(pow2_sum));
            }
            // A sum past 2^63 saturates rather than overflowing the conversion.
            if (int_sum >= 0x1p63) {
                EXPECT_EQ(int_factor, i64_max);
            }
            if (pow2_sum >= 0x1p63) {
                EXPECT_EQ(pow2_factor, i64_max);
            }
        }
    }
}

}  // namespace
