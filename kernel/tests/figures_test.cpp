// SPDX-License-Identifier: MIT
#include <tapsmith/fixed.hpp>

#include "names.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tapsmith::fixed_samples;
using tapsmith::fixed_taps;
using tapsmith::sampling;
using tapsmith::status;

std::string row_name(std::int32_t n, double sigma, std::int32_t bits, std::int32_t pixel_bits, sampling how) {
    return tapsmith::testing_names::row_name(n, sigma, bits, pixel_bits, how);
}

// A parameterised case's name from its row.
template <typename Info>
std::string case_name(const Info& p) {
    return tapsmith::testing_names::test_name(
        row_name(p.param.n, p.param.sigma, p.param.bits, p.param.pixel_bits, p.param.how));
}

struct fitted {
    fixed_samples gf{};
    fixed_taps taps{};
};

fitted fit(std::int32_t n, double sigma, std::int32_t bits, sampling how) {
    fitted f;
    EXPECT_EQ(tapsmith::get_fixed_samples(n, sigma, how, f.gf), tapsmith::status::ok);
    EXPECT_EQ(tapsmith::get_fixed_taps(n, sigma, bits, how, f.taps), tapsmith::status::ok);
    return f;
}

// The automatic sizes, 0 where there is none.
std::int32_t auto_n(double sigma, std::int32_t pixel_bits) {
    std::int32_t n = 0;
    (void)tapsmith::auto_dim_mask(sigma, pixel_bits, n);
    return n;
}

std::int32_t auto_b(std::int32_t n, double sigma, std::int32_t pixel_bits, sampling how) {
    std::int32_t bits = 0;
    (void)tapsmith::auto_bits(n, sigma, pixel_bits, how, bits);
    return bits;
}

TEST(FixedFigures, LiteralValues) {
    // Taps 1 2 1 against GF 0.2 0.6 0.2, worked out by hand: errors 0.05 0.1
    // 0.05; mask errors 0.0225 at the corners, 0.005 at the edges, 0.11 in
    // the middle; H_fixed = 0.5 + 0.5 cos 2 pi f and H_float = 0.6 + 0.4 cos
    // 2 pi f differ by 0.1 (1 - cos 2 pi f), most at f = 0.5.
    fixed_taps taps{1, 2, 1};
    fixed_samples gf{0.2, 0.6, 0.2};
    const tapsmith::fixed_figures f = tapsmith::get_fixed_figures(3, 2, 8, taps, gf);
    EXPECT_EQ(f.sum, 4);
    EXPECT_EQ(f.mask_sum, 16);
    EXPECT_NEAR(f.max_error, 0.1, 1e-15);
    EXPECT_NEAR(f.mask_max_error, 0.11, 1e-15);
    EXPECT_NEAR(f.worst_error_1d, 255 * 0.5 * 0.2 + 0.5, 1e-12);
    EXPECT_NEAR(f.worst_error_2d, 255 * 0.5 * 0.22 + 0.5, 1e-12);
    EXPECT_NEAR(f.nyquist_gain, 0.0, 1e-15);
    EXPECT_NEAR(f.float_nyquist_gain, 0.2, 1e-15);
    EXPECT_NEAR(f.response_max_deviation, 0.2, 1e-15);

    // The default example: taps 14 62 104 62 14 of n = 5, sigma = 1.
    const fitted d = fit(5, 1.0, 8, sampling::point);
    const tapsmith::fixed_figures g = tapsmith::get_fixed_figures(5, 8, 8, d.taps, d.gf);
    EXPECT_EQ(g.sum, 256);
    EXPECT_EQ(g.mask_sum, 65536);
    EXPECT_EQ(g.max_error, std::fabs(104.0 / 256 - d.gf[2]));
    EXPECT_EQ(g.mask_max_error, std::fabs(104.0 * 104 / 65536 - d.gf[2] * d.gf[2]));
}

TEST(FixedFigures, RefuseWhatIsOutsideTheirContract) {
    fixed_taps taps{};
    taps.fill(std::numeric_limits<std::int64_t>::max());  // saturates, no overflow
    fixed_samples gf{};
    gf.fill(1.0);
    const struct {
        std::int32_t n;
        std::int32_t bits;
        std::int32_t pixel_bits;
    } rows[] = {{0, 8, 8}, {2, 8, 8}, {129, 8, 8}, {5, 0, 8}, {5, 31, 8}, {5, 8, 0}, {5, 8, 33}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row_name(row.n, 0, row.bits, row.pixel_bits, sampling::point));
        const tapsmith::fixed_figures f =
            tapsmith::get_fixed_figures(row.n, row.bits, row.pixel_bits, taps, gf);
        EXPECT_EQ(f.sum, 0);
        EXPECT_EQ(f.worst_error_2d, 0.0);
        EXPECT_EQ(f.response_max_deviation, 0.0);
    }
    const tapsmith::fixed_figures f = tapsmith::get_fixed_figures(127, 30, 32, taps, gf);
    EXPECT_EQ(f.sum, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(f.mask_sum, std::numeric_limits<std::int64_t>::max());
}

// Every input of P-bit pixels, filtered with the single final rounding the
// hardware does, against the exact filter: the worst error never exceeds
// the figure (up to GF's own rounding, which may leave its sum a few units
// of 2^-53 off 1), and some input comes within one unit of it.
struct error_row {
    std::int32_t n;
    double sigma;
    std::int32_t bits;
    std::int32_t pixel_bits;
    sampling how;
};

// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
void PrintTo(const error_row& row, std::ostream* os) {
    *os << row_name(row.n, row.sigma, row.bits, row.pixel_bits, row.how);
}

class WorstError : public testing::TestWithParam<error_row> {};

// Calls visit(pixels) for every vector of count P-bit pixels.
template <typename Visit>
void every_input(std::size_t count, std::int32_t pixel_bits, Visit visit) {
    const std::int64_t top = (std::int64_t{1} << pixel_bits) - 1;
    std::vector<std::int64_t> p(count, 0);
    while (true) {
        visit(p);
        std::size_t k = 0;
        while (k < count && p[k] == top) {
            p[k] = 0;
            ++k;
        }
        if (k == count) {
            return;
        }
        ++p[k];
    }
}

TEST_P(WorstError, IsReachedWithinOneUnitAndNeverExceeded) {
    const error_row row = GetParam();
    const fitted f = fit(row.n, row.sigma, row.bits, row.how);
    const tapsmith::fixed_figures fig =
        tapsmith::get_fixed_figures(row.n, row.bits, row.pixel_bits, f.taps, f.gf);
    const auto n = static_cast<std::size_t>(row.n);
    const std::int64_t half = std::int64_t{1} << (row.bits - 1);
    constexpr double slack = 1e-9;

    double worst_1d = 0.0;
    every_input(n, row.pixel_bits, [&](const std::vector<std::int64_t>& p) {
        std::int64_t acc = 0;
        double exact = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            acc += f.taps[i] * p[i];
            exact += f.gf[i] * static_cast<double>(p[i]);
        }
        worst_1d = std::fmax(worst_1d, std::fabs(static_cast<double>((acc + half) >> row.bits) - exact));
    });
    EXPECT_LE(worst_1d, fig.worst_error_1d + slack);
    EXPECT_GE(worst_1d, fig.worst_error_1d - 1.0 - slack);

    if (n * n * static_cast<std::size_t>(row.pixel_bits) > 20) {
        return;  // 2^20 inputs at most
    }
    const std::int64_t half_2d = std::int64_t{1} << (2 * row.bits - 1);
    double worst_2d = 0.0;
    every_input(n * n, row.pixel_bits, [&](const std::vector<std::int64_t>& p) {
        std::int64_t acc = 0;
        double exact = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) {
                acc += f.taps[i] * f.taps[j] * p[i * n + j];
                exact += f.gf[i] * f.gf[j] * static_cast<double>(p[i * n + j]);
            }
        }
        worst_2d =
            std::fmax(worst_2d, std::fabs(static_cast<double>((acc + half_2d) >> (2 * row.bits)) - exact));
    });
    EXPECT_LE(worst_2d, fig.worst_error_2d + slack);
    EXPECT_GE(worst_2d, fig.worst_error_2d - 1.0 - slack);
}

// Few bits, so that the figures run to several units; at most 2^21 inputs.
INSTANTIATE_TEST_SUITE_P(
    SmallFilters, WorstError,
    testing::Values(error_row{1, 1.0, 3, 8, sampling::point}, error_row{3, 0.8, 2, 7, sampling::point},
                    error_row{3, 1.3, 3, 6, sampling::area}, error_row{5, 1.0, 3, 4, sampling::point},
                    error_row{5, 0.7, 4, 4, sampling::area}, error_row{7, 1.5, 3, 3, sampling::point},
                    error_row{3, 0.9, 2, 2, sampling::point}, error_row{3, 1.1, 3, 2, sampling::area},
                    error_row{1, 1.0, 1, 16, sampling::area}),
    [](const auto& p) { return case_name(p); });

// The defining inequality of auto_dim_mask, evaluated on its own.
bool covers(std::int32_t n, double sigma, std::int32_t pixel_bits) {
    return std::erfc(static_cast<double>(n) / (2.0 * std::numbers::sqrt2 * sigma)) <=
           std::ldexp(1.0, -(pixel_bits + 1));
}

TEST(AutoDimMask, LiteralValues) {
    const struct {
        double sigma;
        std::int32_t pixel_bits;
        std::int32_t n;
        status want = status::ok;
    } rows[] = {
        {1.0, 8, 7},
        {2.0, 8, 13},
        {5.0, 8, 31},
        {1.0, 16, 9},
        {2.0, 16, 19},
        {5.0, 16, 45},
        {1e-9, 32, 1},
        {30.0, 8, 0, status::none_fits},  // would need more than 127 taps
        {0.0, 8, 0, status::bad_sigma},
        {-1.0, 8, 0, status::bad_sigma},
        {std::numeric_limits<double>::infinity(), 8, 0, status::bad_sigma},
        {std::nan(""), 8, 0, status::bad_sigma},
        {1.0, 0, 0, status::bad_bits},
        {1.0, 33, 0, status::bad_bits},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row_name(0, row.sigma, 0, row.pixel_bits, sampling::point));
        std::int32_t n = -1;
        EXPECT_EQ(tapsmith::auto_dim_mask(row.sigma, row.pixel_bits, n), row.want);
        EXPECT_EQ(n, row.n);
    }
}

// Around the sigma where n stops covering the tail, found by bisecting the
// defining inequality down to two neighbouring doubles.
TEST(AutoDimMask, StepsUpExactlyAtTheBoundary) {
    for (const std::int32_t pixel_bits : {1, 8, 12, 32}) {
        for (const std::int32_t n : {1, 3, 9, 31, 125}) {
            SCOPED_TRACE(row_name(n, 0, 0, pixel_bits, sampling::point));
            double lo = 1e-3;  // covered
            double hi = 1e3;   // not
            ASSERT_TRUE(covers(n, lo, pixel_bits));
            ASSERT_FALSE(covers(n, hi, pixel_bits));
            while (std::nextafter(lo, hi) < hi) {
                const double mid = lo + (hi - lo) / 2;
                (covers(n, mid, pixel_bits) ? lo : hi) = mid > lo && mid < hi ? mid : std::nextafter(lo, hi);
            }
            ASSERT_TRUE(covers(n + 2, hi, pixel_bits));
            EXPECT_EQ(auto_n(lo, pixel_bits), n);
            EXPECT_EQ(auto_n(hi, pixel_bits), n + 2);
        }
    }
    // Past the last size there is none.
    double lo = 1.0;
    double hi = 1e3;
    while (std::nextafter(lo, hi) < hi) {
        const double mid = lo + (hi - lo) / 2;
        (covers(tapsmith::FIXED_MAX, mid, 8) ? lo : hi) = mid > lo && mid < hi ? mid : std::nextafter(lo, hi);
    }
    EXPECT_EQ(auto_n(lo, 8), tapsmith::FIXED_MAX);
    EXPECT_EQ(auto_n(hi, 8), 0);
}

// worst_error_2d from the taps, summed here on its own.
double worst_error_2d(std::int32_t n, double sigma, std::int32_t bits, std::int32_t pixel_bits,
                      sampling how) {
    const fitted f = fit(n, sigma, bits, how);
    double deviation = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        for (std::int32_t j = 0; j < n; ++j) {
            const auto a = static_cast<std::size_t>(i);
            const auto b = static_cast<std::size_t>(j);
            deviation += std::fabs(std::ldexp(static_cast<double>(f.taps[a] * f.taps[b]), -2 * bits) -
                                   f.gf[a] * f.gf[b]);
        }
    }
    return (std::ldexp(1.0, pixel_bits) - 1.0) * 0.5 * deviation + 0.5;
}

struct bits_row {
    std::int32_t n;
    std::int32_t pixel_bits;
    sampling how;
    double sigma_lo;
    double sigma_hi;
};

std::string bits_row_name(const bits_row& row) {
    return row_name(row.n, 0, 0, row.pixel_bits, row.how) + " sigma" +
           std::to_string(row.sigma_lo).substr(0, 4) + " to " + std::to_string(row.sigma_hi).substr(0, 4);
}

// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
void PrintTo(const bits_row& row, std::ostream* os) {
    *os << bits_row_name(row);
}

class AutoBits : public testing::TestWithParam<bits_row> {};

// Between two sigmas where auto_bits differs (it need not grow with sigma:
// the taps' fit comes and goes), bisect the defining inequality for the
// lower end's bits down to neighbouring doubles; on each side the answer
// must be the smallest bits whose taps keep the 2-D error below 1.
TEST_P(AutoBits, StepsWhereTheInequalityFlips) {
    const bits_row row = GetParam();
    const std::int32_t b = auto_b(row.n, row.sigma_lo, row.pixel_bits, row.how);
    ASSERT_GT(b, 1);
    ASSERT_NE(auto_b(row.n, row.sigma_hi, row.pixel_bits, row.how), b);
    const auto holds = [&](double sigma) {
        return worst_error_2d(row.n, sigma, b, row.pixel_bits, row.how) < 1.0;
    };
    double lo = row.sigma_lo;
    double hi = row.sigma_hi;
    ASSERT_TRUE(holds(lo));
    ASSERT_FALSE(holds(hi));
    while (std::nextafter(lo, hi) < hi) {
        const double mid = lo + (hi - lo) / 2;
        (holds(mid) ? lo : hi) = mid > lo && mid < hi ? mid : std::nextafter(lo, hi);
    }
    for (const double sigma : {lo, hi}) {
        SCOPED_TRACE(row_name(row.n, sigma, 0, row.pixel_bits, row.how));
        const std::int32_t got = auto_b(row.n, sigma, row.pixel_bits, row.how);
        ASSERT_GE(got, 1);
        EXPECT_LT(worst_error_2d(row.n, sigma, got, row.pixel_bits, row.how), 1.0);
        for (std::int32_t fewer = 1; fewer < got; ++fewer) {
            EXPECT_GE(worst_error_2d(row.n, sigma, fewer, row.pixel_bits, row.how), 1.0) << fewer << " bits";
        }
    }
    EXPECT_LE(auto_b(row.n, lo, row.pixel_bits, row.how), b);
    EXPECT_NE(auto_b(row.n, hi, row.pixel_bits, row.how), b);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, AutoBits,
    testing::Values(bits_row{3, 2, sampling::point, 2.15, 2.48}, bits_row{9, 4, sampling::point, 0.93, 1.07},
                    bits_row{31, 8, sampling::point, 1.63, 1.87}, bits_row{5, 8, sampling::area, 0.40, 0.46},
                    bits_row{31, 2, sampling::area, 1.87, 2.15}),
    [](const auto& p) { return tapsmith::testing_names::test_name(bits_row_name(p.param)); });

TEST(AutoBitsLimits, RefuseWhatIsOutsideTheirContract) {
    const struct {
        std::int32_t n;
        double sigma;
        std::int32_t pixel_bits;
        sampling how;
        status want;
        std::int32_t bits;
    } rows[] = {
        {4, 1.0, 8, sampling::point, status::bad_count, 0},
        {5, -1.0, 8, sampling::point, status::bad_sigma, 0},
        {5, 1.0, 0, sampling::point, status::bad_bits, 0},
        {5, 1.0, 33, sampling::area, status::bad_bits, 0},
        {127, 1.0, 32, sampling::point, status::none_fits, 0},
        // A single tap is exact at one bit: 2^1 / 2^1 against GF = 1.
        {1, 1.0, 32, sampling::area, status::ok, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row_name(row.n, row.sigma, 0, row.pixel_bits, row.how));
        std::int32_t bits = -1;
        EXPECT_EQ(tapsmith::auto_bits(row.n, row.sigma, row.pixel_bits, row.how, bits), row.want);
        EXPECT_EQ(bits, row.bits);
    }
}

TEST(FrequencyResponse, LiteralValues) {
    const fitted f = fit(9, 1.0, 12, sampling::point);
    const tapsmith::frequency_response point =
        tapsmith::get_frequency_response(9, 1.0, 12, sampling::point, f.taps, f.gf);
    const tapsmith::frequency_response area =
        tapsmith::get_frequency_response(9, 1.0, 12, sampling::area, f.taps, f.gf);
    for (std::size_t k = 0; k < point.size(); ++k) {
        EXPECT_EQ(point[k].f, static_cast<double>(k) / 512) << k;
    }
    EXPECT_EQ(point[0].fixed, 1.0);  // the taps sum to 2^bits exactly
    EXPECT_NEAR(point[0].floating, 1.0, 1e-15);
    EXPECT_EQ(point[0].ideal, 1.0);
    EXPECT_EQ(area[0].ideal, 1.0);
    // e^(-2 pi^2 / 16), and times sinc(1/4) = sin(pi/4) / (pi/4)
    EXPECT_NEAR(point[128].ideal, 0.29121293321402086, 1e-15);
    EXPECT_NEAR(area[128].ideal, 0.2621837552485526, 1e-15);

    // One tap passes everything: the integer tap exactly; its normalised
    // sample s * (1 / s) may be one unit below 1, as it is where the C
    // library's erfc gives another s (i386).
    const fitted one = fit(1, 1.0, 5, sampling::area);
    for (const auto& p : tapsmith::get_frequency_response(1, 1.0, 5, sampling::area, one.taps, one.gf)) {
        EXPECT_EQ(p.fixed, 1.0) << p.f;
        EXPECT_NEAR(p.floating, 1.0, 0x1p-52) << p.f;
    }
    // 1 2 1 / 4: (1 + cos 2 pi f) / 2, zero at Nyquist.
    const fixed_taps binomial{1, 2, 1};
    const fixed_samples quarter{0.25, 0.5, 0.25};
    const tapsmith::frequency_response b =
        tapsmith::get_frequency_response(3, 2.0, 2, sampling::point, binomial, quarter);
    EXPECT_NEAR(b[128].fixed, 0.5, 1e-15);
    EXPECT_NEAR(b[256].fixed, 0.0, 1e-15);
    EXPECT_NEAR(b[256].floating, 0.0, 1e-15);
    // sigma = 2 at f = 1/4: e^(-pi^2 / 2)
    EXPECT_NEAR(b[128].ideal, 0.007191883355826368, 1e-17);

    // Outside the contract: nothing.
    const tapsmith::frequency_response none =
        tapsmith::get_frequency_response(4, 1.0, 12, sampling::point, f.taps, f.gf);
    EXPECT_EQ(none[128].f, 0.0);
    EXPECT_EQ(none[128].fixed, 0.0);
    // A huge sigma passes only f = 0, not inf * 0.
    const tapsmith::frequency_response wide =
        tapsmith::get_frequency_response(9, 1e300, 12, sampling::point, f.taps, f.gf);
    EXPECT_EQ(wide[0].ideal, 1.0);
    EXPECT_EQ(wide[1].ideal, 0.0);
}

// The figures' response numbers are the response table's: the Nyquist
// gains to the bit (both summed in the taps' order), the largest deviation,
// summed another way for speed, within 1e-12.
TEST(FrequencyResponse, AgreesWithTheFigures) {
    for (const sampling how : {sampling::point, sampling::area}) {
        for (const std::int32_t n : {3, 9, 31, 127}) {
            SCOPED_TRACE(row_name(n, 2.0, 10, 8, how));
            const fitted f = fit(n, 2.0, 10, how);
            const tapsmith::fixed_figures fig = tapsmith::get_fixed_figures(n, 10, 8, f.taps, f.gf);
            const tapsmith::frequency_response r =
                tapsmith::get_frequency_response(n, 2.0, 10, how, f.taps, f.gf);
            double deviation = 0.0;
            for (const auto& p : r) {
                deviation = std::fmax(deviation, std::fabs(p.fixed - p.floating));
            }
            EXPECT_EQ(fig.nyquist_gain, r.back().fixed);
            EXPECT_EQ(fig.float_nyquist_gain, r.back().floating);
            EXPECT_NEAR(fig.response_max_deviation, deviation, 1e-12);
        }
    }
}

}  // namespace
