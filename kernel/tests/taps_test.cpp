// SPDX-License-Identifier: MIT
#include <tapsmith/fixed.hpp>
#include <tapsmith/kernel.hpp>

#include "names.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using tapsmith::fixed_samples;
using tapsmith::fixed_taps;
using tapsmith::int_table;
using tapsmith::sampling;
using tapsmith::status;

std::string row_name(std::int32_t n, double sigma, std::int32_t bits, sampling how) {
    return tapsmith::testing_names::row_name(n, sigma, bits, 0, how);
}

std::string test_name(std::int32_t n, double sigma, std::int32_t bits, sampling how) {
    return tapsmith::testing_names::test_name(row_name(n, sigma, bits, how));
}

// r at distance k = 0 .. m from the centre.
std::vector<double> ideal_half(std::int32_t n, double sigma, std::int32_t bits, sampling how) {
    fixed_samples gf{};
    EXPECT_EQ(tapsmith::get_fixed_samples(n, sigma, how, gf), tapsmith::status::ok);
    const auto m = static_cast<std::size_t>(n / 2);
    std::vector<double> r(m + 1);
    for (std::size_t k = 0; k <= m; ++k) {
        r[k] = std::ldexp(1.0, bits) * gf[m + k];
    }
    return r;
}

// The selection rule's key, computed as the rule states it: the largest
// deviation, the sum of squared deviations left to right over all n taps,
// then the taps from the centre outward negated (larger first).
struct key {
    double largest = 0.0;
    double squares = 0.0;
    std::vector<std::int64_t> from_centre;
    bool operator<(const key& o) const {
        return std::tie(largest, squares, from_centre) < std::tie(o.largest, o.squares, o.from_centre);
    }
};

key key_of(const std::vector<double>& r, const std::vector<std::int64_t>& c) {
    const std::size_t m = r.size() - 1;
    key out;
    const auto add = [&](std::size_t k) {
        const double dev = std::fabs(static_cast<double>(c[k]) - r[k]);
        out.largest = std::fmax(out.largest, dev);
        out.squares += dev * dev;
    };
    for (std::size_t k = m + 1; k-- > 0;) {
        add(k);
    }
    for (std::size_t k = 1; k <= m; ++k) {
        add(k);
    }
    for (std::size_t k = 0; k <= m; ++k) {
        out.from_centre.push_back(-c[k]);
    }
    return out;
}

std::vector<std::int64_t> half_of(const fixed_taps& t, std::int32_t n) {
    const auto m = static_cast<std::size_t>(n / 2);
    return {t.begin() + static_cast<std::ptrdiff_t>(m), t.begin() + static_cast<std::ptrdiff_t>(2 * m + 1)};
}

// Symmetric, non-negative, non-increasing outward, summing to 2^bits, and
// zero past n.
void expect_valid(const fixed_taps& t, std::int32_t n, std::int32_t bits) {
    const auto taps = static_cast<std::size_t>(n);
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < taps; ++i) {
        sum += t[i];
        EXPECT_GE(t[i], 0) << "tap " << i;
        EXPECT_EQ(t[i], t[taps - 1 - i]) << "tap " << i;
        if (i < taps / 2) {
            EXPECT_LE(t[i], t[i + 1]) << "tap " << i;
        }
    }
    for (std::size_t i = taps; i < t.size(); ++i) {
        EXPECT_EQ(t[i], 0) << "tap " << i;
    }
    EXPECT_EQ(sum, std::int64_t{1} << bits);
}

// Every symmetric kernel whose taps lie within `reach` of their ideal
// values, walked from the outermost tap inward; the centre takes what is
// left. Exhaustive inside the window, and the window is wide enough when the
// winner's largest deviation stays below reach: any kernel with a tap
// outside deviates by more than reach.
struct brute_force {
    std::vector<double> r;
    std::int64_t total;
    double reach;
    std::vector<std::int64_t> c;
    bool found = false;
    key best;
    std::vector<std::int64_t> winner;

    void visit(std::size_t k, std::int64_t outer) {
        if (k == 0) {
            c[0] = total - 2 * outer;
            if (c[0] < 0 || (c.size() > 1 && c[0] < c[1])) {
                return;
            }
            const key here = key_of(r, c);
            if (!found || here < best) {
                found = true;
                best = here;
                winner = c;
            }
            return;
        }
        const std::int64_t floor = k + 1 < c.size() ? c[k + 1] : 0;
        for (auto v = static_cast<std::int64_t>(std::ceil(r[k] - reach));
             v <= static_cast<std::int64_t>(std::floor(r[k] + reach)); ++v) {
            if (v >= floor) {
                c[k] = v;
                visit(k - 1, outer + v);
            }
        }
    }
};

class TapsAgainstBruteForce : public testing::TestWithParam<std::tuple<std::int32_t, sampling>> {};

TEST_P(TapsAgainstBruteForce, OverAWideWindow) {
    const auto [n, how] = GetParam();
    for (const double sigma : {0.2, 0.45, 0.7, 1.0, 1.5, 2.5, 5.0, 1e3}) {
        for (const std::int32_t bits : {1, 2, 3, 5, 8, 12, 16, 23, 30}) {
            SCOPED_TRACE(row_name(n, sigma, bits, how));
            fixed_taps got{};
            ASSERT_EQ(tapsmith::get_fixed_taps(n, sigma, bits, how, got), tapsmith::status::ok);
            expect_valid(got, n, bits);
            const std::vector<double> r = ideal_half(n, sigma, bits, how);
            brute_force reference{
                r, std::int64_t{1} << bits, 4.0, std::vector<std::int64_t>(r.size()), false, {}, {}};
            reference.visit(r.size() - 1, 0);
            ASSERT_TRUE(reference.found);
            EXPECT_LT(reference.best.largest, reference.reach - 0.5);
            EXPECT_EQ(half_of(got, n), reference.winner);
            // The 9-tap interface gives the same point-sampled taps.
            if (n <= tapsmith::DIM_MAX && how == sampling::point) {
                int_table old{};
                ASSERT_TRUE(tapsmith::get_fixed_coeffs(n, sigma, bits, old));
                EXPECT_TRUE(std::equal(old.begin(), old.end(), got.begin()));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryOddSizeUpTo11, TapsAgainstBruteForce,
                         testing::Combine(testing::Values(1, 3, 5, 7, 9, 11),
                                          testing::Values(sampling::point, sampling::area)),
                         [](const auto& p) {
                             return test_name(std::get<0>(p.param), 0, 0, std::get<1>(p.param));
                         });

// Filters whose smallest largest deviation is reached only with every outer
// tap at the top of its range, so that the outer sum meets its bound
// exactly; a feasibility test that misses that edge settles on a wider
// deviation and another kernel.
TEST(TapsAgainstBruteForce, WhereTheOuterSumMeetsItsBound) {
    const struct {
        std::int32_t n;
        double sigma;
        std::int32_t bits;
        sampling how;
    } rows[] = {
        {9, 2.3626375651190821, 4, sampling::point},
        {9, 2.3612993079865183, 4, sampling::area},
        {9, 19.420956053988913, 10, sampling::area},
        {5, 17.607847984017599, 11, sampling::area},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row_name(row.n, row.sigma, row.bits, row.how));
        fixed_taps got{};
        ASSERT_EQ(tapsmith::get_fixed_taps(row.n, row.sigma, row.bits, row.how, got), tapsmith::status::ok);
        const std::vector<double> r = ideal_half(row.n, row.sigma, row.bits, row.how);
        brute_force reference{
            r, std::int64_t{1} << row.bits, 4.0, std::vector<std::int64_t>(r.size()), false, {}, {}};
        reference.visit(r.size() - 1, 0);
        ASSERT_TRUE(reference.found);
        EXPECT_EQ(half_of(got, row.n), reference.winner);
    }
}

// The brute force's winner for these settings.
std::vector<std::int64_t> brute_winner(std::int32_t n, double sigma, std::int32_t bits, sampling how,
                                       key* best) {
    const std::vector<double> r = ideal_half(n, sigma, bits, how);
    brute_force reference{r, std::int64_t{1} << bits, 4.0, std::vector<std::int64_t>(r.size()), false, {},
                          {}};
    reference.visit(r.size() - 1, 0);
    EXPECT_TRUE(reference.found);
    if (best != nullptr) {
        *best = reference.best;
    }
    return reference.winner;
}

// The chosen kernel changes with sigma where another overtakes it. Where the
// two have the same largest deviation, the sum of squared deviations (over
// every tap, the centre's too) decides, and where that ties exactly, the
// larger taps from the centre outward: the rule's finest parts, which a
// test at round sigmas never reaches. Each change is found with the brute
// force alone, bisected to neighbouring doubles, and the taps are checked
// there and a few doubles around.
TEST(TapsAgainstBruteForce, WhereTheChosenKernelChanges) {
    const struct {
        std::int32_t n;
        std::int32_t bits;
        sampling how;
    } rows[] = {{3, 4, sampling::point}, {5, 5, sampling::point}, {5, 6, sampling::area},
                {7, 6, sampling::point}, {7, 5, sampling::area},  {3, 7, sampling::area}};
    int decided_by_squares = 0;
    int exact_ties = 0;
    for (const auto& row : rows) {
        std::vector<double> grid;  // 0.3 to 4, 2% apart
        grid.reserve(131);
        for (int k = 0; k < 131; ++k) {
            grid.push_back(0.3 * std::pow(1.02, k));
        }
        for (std::size_t g = 0; g + 1 < grid.size(); ++g) {
            double lo = grid[g];
            double hi = grid[g + 1];
            const std::vector<std::int64_t> before = brute_winner(row.n, lo, row.bits, row.how, nullptr);
            if (brute_winner(row.n, hi, row.bits, row.how, nullptr) == before) {
                continue;
            }
            while (std::nextafter(lo, hi) < hi) {
                const double mid = lo + (hi - lo) / 2;
                const double at = mid > lo && mid < hi ? mid : std::nextafter(lo, hi);
                (brute_winner(row.n, at, row.bits, row.how, nullptr) == before ? lo : hi) = at;
            }
            const std::vector<std::int64_t> after = brute_winner(row.n, hi, row.bits, row.how, nullptr);
            // Both kernels' keys on both sides: is this change the squares'
            // doing, and do they tie exactly anywhere near it?
            double sigma = lo;
            for (int step = 0; step < 3; ++step) {
                sigma = std::nextafter(sigma, 0.0);
            }
            for (int step = 0; step < 8; ++step) {
                SCOPED_TRACE(row_name(row.n, sigma, row.bits, row.how));
                const std::vector<double> r = ideal_half(row.n, sigma, row.bits, row.how);
                const key a = key_of(r, before);
                const key b = key_of(r, after);
                if (a.largest == b.largest) {
                    decided_by_squares += sigma == lo ? 1 : 0;
                    exact_ties += a.squares == b.squares ? 1 : 0;
                }
                fixed_taps got{};
                ASSERT_EQ(tapsmith::get_fixed_taps(row.n, sigma, row.bits, row.how, got),
                          tapsmith::status::ok);
                EXPECT_EQ(half_of(got, row.n), brute_winner(row.n, sigma, row.bits, row.how, nullptr));
                sigma = std::nextafter(sigma, 10.0);
            }
        }
    }
    // Else the rows would no longer reach the parts of the rule they are for.
    EXPECT_GE(decided_by_squares, 5);
    EXPECT_GE(exact_ties, 1);
}

// A branch and bound over the kernels themselves, outermost tap first, that
// proves no kernel beats the one under test (and none ties it with larger
// taps). The candidate only narrows the search: every kernel that could win
// has no deviation above the candidate's largest and a sum of squares within
// rounding of the candidate's, so the bounds below never cut one off.
struct branch_and_bound {
    std::vector<double> r;
    std::int64_t total;
    std::vector<std::int64_t> lo, hi;  // the taps within the candidate's largest deviation
    std::vector<double> least;         // the smallest squared deviation within them
    std::vector<std::int64_t> c;
    key best;
    std::vector<std::int64_t> winner;
    std::int64_t leaves = 0;

    branch_and_bound(std::vector<double> ideal, std::int64_t sum, const std::vector<std::int64_t>& candidate)
        : r(std::move(ideal)), total(sum), c(r.size()), winner(candidate) {
        best = key_of(r, candidate);
        for (const double ideal_k : r) {
            std::int64_t a = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(ideal_k)) - 8);
            std::int64_t b = static_cast<std::int64_t>(std::ceil(ideal_k)) + 8;
            const auto ok = [&](std::int64_t v) {
                return std::fabs(static_cast<double>(v) - ideal_k) <= best.largest;
            };
            while (a <= b && !ok(a)) {
                ++a;
            }
            while (b >= a && !ok(b)) {
                --b;
            }
            lo.push_back(a);
            hi.push_back(b);
            double q = std::numeric_limits<double>::infinity();
            for (std::int64_t v = a; v <= b; ++v) {
                const double dev = std::fabs(static_cast<double>(v) - ideal_k);
                q = std::min(q, dev * dev);
            }
            least.push_back(q);
        }
    }

    void visit(std::size_t k, std::int64_t outer, double cost) {
        if (k == 0) {
            c[0] = total - 2 * outer;
            if (c[0] < lo[0] || c[0] > hi[0] || (c.size() > 1 && c[0] < c[1])) {
                return;
            }
            ++leaves;
            const key here = key_of(r, c);
            if (here < best) {
                best = here;
                winner = c;
            }
            return;
        }
        const std::int64_t floor = k + 1 < c.size() ? c[k + 1] : 0;
        for (std::int64_t v = std::max(lo[k], floor); v <= hi[k]; ++v) {
            std::int64_t rest_lo = 0;
            std::int64_t rest_hi = 0;
            double rest_cost = least[0];
            for (std::size_t j = 1; j < k; ++j) {
                rest_lo += std::max(lo[j], v);
                rest_hi += hi[j];
                rest_cost += 2.0 * least[j];
            }
            const std::int64_t outer_now = outer + v;
            if (total - 2 * (outer_now + rest_hi) > hi[0] ||
                total - 2 * (outer_now + rest_lo) < std::max(lo[0], v)) {
                continue;
            }
            const double dev = std::fabs(static_cast<double>(v) - r[k]);
            const double here = cost + 2.0 * dev * dev;
            if (here + rest_cost > best.squares * (1.0 + 1e-9)) {
                continue;
            }
            c[k] = v;
            visit(k - 1, outer_now, here);
        }
    }
};

struct large_row {
    std::int32_t n;
    double sigma;
    std::int32_t bits;
    sampling how;
};

// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
void PrintTo(const large_row& row, std::ostream* os) {
    *os << row_name(row.n, row.sigma, row.bits, row.how);
}

class TapsAgainstBranchAndBound : public testing::TestWithParam<large_row> {};

TEST_P(TapsAgainstBranchAndBound, NoKernelDoesBetter) {
    const large_row row = GetParam();
    fixed_taps got{};
    ASSERT_EQ(tapsmith::get_fixed_taps(row.n, row.sigma, row.bits, row.how, got), tapsmith::status::ok);
    expect_valid(got, row.n, row.bits);
    const std::vector<std::int64_t> half = half_of(got, row.n);
    branch_and_bound check(ideal_half(row.n, row.sigma, row.bits, row.how), std::int64_t{1} << row.bits,
                           half);
    check.visit(half.size() - 1, 0, 0.0);
    EXPECT_GE(check.leaves, 1);
    EXPECT_EQ(check.winner, half);
}

std::vector<large_row> large_rows() {
    std::vector<large_row> rows;
    for (const std::int32_t n : {13, 15, 21, 31, 63, 127}) {
        for (const double sigma : {0.6, 2.0, 4.5, 17.0, 1e4}) {
            for (const std::int32_t bits : {4, 10, 16, 30}) {
                for (const sampling how : {sampling::point, sampling::area}) {
                    rows.push_back({n, sigma, bits, how});
                }
            }
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(UpTo127, TapsAgainstBranchAndBound, testing::ValuesIn(large_rows()),
                         [](const auto& p) {
                             return test_name(p.param.n, p.param.sigma, p.param.bits, p.param.how);
                         });

TEST(FixedTaps, KnownKernels) {
    const struct {
        std::int32_t n;
        double sigma;
        std::int32_t bits;
        sampling how;
        std::vector<std::int64_t> taps;
    } rows[] = {
        // Rounding and fixing the centre gives 14 63 102 63 14, 1.07 units
        // off; these are at most 0.93 off.
        {5, 1.0, 8, sampling::point, {14, 62, 104, 62, 14}},
        {1, 3.0, 30, sampling::area, {1 << 30}},
        // Tiny sigma: everything in the centre.
        {127, 1e-3, 30, sampling::point, std::vector<std::int64_t>(63, 0)},
        // Huge sigma (point samples all exactly 1): 2^8 = 3 * 85 + 1, and
        // the odd unit must sit in the centre.
        {3, 1e200, 8, sampling::point, {85, 86, 85}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row_name(row.n, row.sigma, row.bits, row.how));
        fixed_taps got{};
        ASSERT_EQ(tapsmith::get_fixed_taps(row.n, row.sigma, row.bits, row.how, got), tapsmith::status::ok);
        std::vector<std::int64_t> want = row.taps;
        if (row.n == 127) {
            want.push_back(std::int64_t{1} << 30);
            want.insert(want.end(), 63, 0);
        }
        EXPECT_EQ(std::vector<std::int64_t>(got.begin(), got.begin() + row.n), want);
    }
}

TEST(FixedSamples, LiteralValues) {
    const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): rows read in this order
        std::int32_t n;
        double sigma;
        sampling how;
        std::vector<double> gf;
    } rows[] = {
        // e^-0.5 / (1 + 2 e^-0.5) and 1 / (1 + 2 e^-0.5)
        {3, 1.0, sampling::point, {0.274068619061197, 0.45186276187760605, 0.274068619061197}},
        // erfc differences over the three pixels, normalised
        {3, 1.0, sampling::area, {0.27901010608345433, 0.4419797878330913, 0.27901010608345433}},
        {1, 0.3, sampling::area, {1.0}},
        {1, 0.3, sampling::point, {1.0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row_name(row.n, row.sigma, 0, row.how));
        fixed_samples gf{};
        ASSERT_EQ(tapsmith::get_fixed_samples(row.n, row.sigma, row.how, gf), tapsmith::status::ok);
        for (std::size_t i = 0; i < gf.size(); ++i) {
            EXPECT_NEAR(gf[i], i < row.gf.size() ? row.gf[i] : 0.0, 4e-16) << "entry " << i;
        }
    }
}

TEST(FixedTaps, RefuseWhatIsOutsideTheirContract) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): rows read in this order
        std::int32_t n;
        double sigma;
        std::int32_t bits;
        sampling how;
        status samples;  // what get_fixed_samples says; get_fixed_taps says the same, or bad_bits
    } rows[] = {
        {0, 1.0, 8, sampling::point, status::bad_count},
        {-1, 1.0, 8, sampling::point, status::bad_count},
        {2, 1.0, 8, sampling::point, status::bad_count},
        {128, 1.0, 8, sampling::area, status::bad_count},
        {129, 1.0, 8, sampling::point, status::bad_count},
        {std::numeric_limits<std::int32_t>::min(), 1.0, 8, sampling::point, status::bad_count},
        {std::numeric_limits<std::int32_t>::max(), 1.0, 8, sampling::point, status::bad_count},
        {5, 1.0, 0, sampling::point, status::ok},
        {5, 1.0, 31, sampling::area, status::ok},
        {5, 1.0, -8, sampling::point, status::ok},
        {5, 0.0, 8, sampling::point, status::bad_sigma},
        {5, -1.0, 8, sampling::area, status::bad_sigma},
        {5, inf, 8, sampling::point, status::bad_sigma},
        {5, -inf, 8, sampling::point, status::bad_sigma},
        {5, std::nan(""), 8, sampling::area, status::bad_sigma},
        {5, 1e-300, 8, sampling::point, status::bad_sigma},  // 2 sigma^2 is 0
        {5, 1e300, 8, sampling::area, status::bad_sigma},    // every area sample cancels to 0
        // erfc's rounding swamps the area samples' fall: they rise outward
        {127, 1e7, 8, sampling::area, status::bad_sigma},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row_name(row.n, row.sigma, row.bits, row.how));
        fixed_samples gf;
        gf.fill(7.0);
        EXPECT_EQ(tapsmith::get_fixed_samples(row.n, row.sigma, row.how, gf), row.samples);
        if (row.samples != status::ok) {
            EXPECT_EQ(gf, fixed_samples{});
        }
        fixed_taps taps;
        taps.fill(7);
        EXPECT_EQ(tapsmith::get_fixed_taps(row.n, row.sigma, row.bits, row.how, taps),
                  row.samples == status::ok ? status::bad_bits : row.samples);
        EXPECT_EQ(taps, fixed_taps{});
    }
    // The 9-tap interface keeps its own bound on n.
    for (const std::int32_t n : {11, 127}) {
        SCOPED_TRACE(n);
        int_table out;
        out.fill(7);
        EXPECT_FALSE(tapsmith::get_fixed_coeffs(n, 1.0, 8, out));
        EXPECT_EQ(out, int_table{});
    }
}

}  // namespace
