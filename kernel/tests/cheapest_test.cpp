// SPDX-License-Identifier: MIT
// The cheapest taps against a brute force over every admissible kernel of
// every B up to a small ceiling, and their properties on a grid of sizes.
#include <tapsmith/fixed.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using tapsmith::fixed_samples;
using tapsmith::fixed_taps;
using tapsmith::sampling;

struct best_kernel {
    bool found = false;
    std::int32_t cost = 0;
    double error = 0.0;
    std::int32_t bits = 0;
    fixed_taps taps{};
};

// Every kernel t_0 <= ... <= t_m (mirrored) summing to 2^B, for every B up
// to max_bits; the cheapest by the adder plan, then the smallest error, then
// the fewest bits.
best_kernel brute_force(std::int32_t n, double sigma, std::int32_t pixel_bits, double max_error,
                        std::int32_t max_bits) {
    fixed_samples gf{};
    EXPECT_EQ(tapsmith::get_fixed_samples(n, sigma, sampling::point, gf), tapsmith::status::ok);
    const std::int32_t m = n / 2;
    best_kernel best;
    for (std::int32_t bits = 1; bits <= max_bits; ++bits) {
        const std::int64_t total = std::int64_t{1} << bits;
        fixed_taps t{};
        std::function<void(std::int32_t, std::int64_t, std::int64_t)> place = [&](std::int32_t k,
                                                                                  std::int64_t low,
                                                                                  std::int64_t left) {
            if (k == m) {
                if (left < low) {
                    return;
                }
                t[static_cast<std::size_t>(m)] = left;
                const double error = tapsmith::get_fixed_figures(n, bits, pixel_bits, t, gf).worst_error_2d;
                const std::int32_t cost = tapsmith::get_adder_plan(n, t).per_pass;
                if (error < max_error && (!best.found || std::tie(cost, error, bits) <
                                                             std::tie(best.cost, best.error, best.bits))) {
                    best = {true, cost, error, bits, t};
                }
                return;
            }
            for (std::int64_t v = low; 2 * v * (m - k) + v <= left; ++v) {
                t[static_cast<std::size_t>(k)] = v;
                t[static_cast<std::size_t>(n - 1 - k)] = v;
                place(k + 1, v, left - 2 * v);
            }
        };
        place(0, 0, total);
    }
    return best;
}

std::string taps_text(std::int32_t n, const fixed_taps& t) {
    std::ostringstream s;
    for (std::int32_t i = 0; i < n; ++i) {
        s << t[static_cast<std::size_t>(i)] << ' ';
    }
    return s.str();
}

TEST(CheapestTaps, SameAsEveryKernelTried) {
    const struct {
        double sigma;
        double max_error;
        std::int32_t n;
        std::int32_t pixel_bits;
        std::int32_t max_bits;
    } rows[] = {
        // sigma, max error, n, pixel bits, largest B
        {1.0, 1.0, 1, 8, 8},  {0.8, 1.0, 3, 8, 16}, {0.5, 1.0, 3, 12, 16}, {2.0, 3.0, 3, 4, 14},
        {1.0, 1.0, 5, 8, 11}, {0.7, 1.0, 5, 6, 11}, {4.0, 2.0, 5, 8, 11},  {1.2, 1.0, 5, 10, 11},
        {1.0, 0.6, 5, 8, 11}, {1.2, 1.0, 7, 6, 8},  {0.9, 1.5, 7, 8, 8},   {3.0, 1.0, 7, 5, 8},
        {1.5, 1.0, 9, 4, 7},  {2.5, 1.0, 9, 3, 7},  {1.0, 2.0, 9, 5, 7},   {0.4, 1.0, 9, 8, 7},
        {1.5, 1.0, 9, 8, 7},  // none fits
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "n" << row.n << " sigma " << row.sigma << " P" << row.pixel_bits
                                          << " E" << row.max_error << " B<=" << row.max_bits);
        const best_kernel expected =
            brute_force(row.n, row.sigma, row.pixel_bits, row.max_error, row.max_bits);
        tapsmith::cheapest_search search;
        search.max_error = row.max_error;
        search.max_bits = row.max_bits;
        tapsmith::cheapest_taps got;
        const tapsmith::status s =
            tapsmith::get_cheapest_taps(row.n, row.sigma, row.pixel_bits, sampling::point, search, got);
        EXPECT_TRUE(got.proven);
        if (!expected.found) {
            EXPECT_EQ(s, tapsmith::status::none_fits);
            continue;
        }
        ASSERT_EQ(s, tapsmith::status::ok);
        EXPECT_EQ(got.plan.per_pass, expected.cost);
        EXPECT_EQ(got.bits, expected.bits);
        EXPECT_EQ(taps_text(row.n, got.taps), taps_text(row.n, expected.taps));
        EXPECT_EQ(got.worst_error_2d, expected.error);
    }
}

// The examples worked by hand: 32 148 448 876 1088 at B = 12 (E2 0.95)
// costs 15 adders against the closest taps' 19; 448 2000 3296 at B = 13
// costs 10 against 13. Nothing may cost more than they do.
TEST(CheapestTaps, NoDearerThanHandWorkedKernels) {
    const struct {
        std::int32_t n;
        double sigma;
        std::int32_t at_most;
    } rows[] = {{9, 1.5, 15}, {5, 1.0, 10}};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "n" << row.n);
        tapsmith::cheapest_taps got;
        ASSERT_EQ(tapsmith::get_cheapest_taps(row.n, row.sigma, 8, sampling::point, {}, got),
                  tapsmith::status::ok);
        EXPECT_TRUE(got.proven);
        EXPECT_LE(got.plan.per_pass, row.at_most);
    }
}

// Over sizes, sigmas, pixel widths and both samplings: the search finishes
// for every filter up to 9 taps, and what it returns is an admissible
// kernel at its bits, with the error the figures print below the bound, no
// dearer than the closest taps of any B that meet the bound.
TEST(CheapestTaps, AdmissibleProvenAndNoDearerThanClosestTaps) {
    for (const std::int32_t n : {3, 5, 7, 9}) {
        for (const double sigma : {0.3, 0.8, 1.5, 3.0, 10.0}) {
            for (const std::int32_t pixel_bits : {1, 4, 8, 12, 16}) {
                for (const sampling how : {sampling::point, sampling::area}) {
                    SCOPED_TRACE(::testing::Message() << "n" << n << " sigma " << sigma << " P" << pixel_bits
                                                      << (how == sampling::area ? " area" : " point"));
                    tapsmith::cheapest_taps got;
                    const tapsmith::status s =
                        tapsmith::get_cheapest_taps(n, sigma, pixel_bits, how, {}, got);
                    ASSERT_EQ(s, tapsmith::status::ok);
                    EXPECT_TRUE(got.proven);
                    const auto at = [&](std::int32_t j) { return got.taps[static_cast<std::size_t>(j)]; };
                    std::int64_t sum = 0;
                    bool odd = false;
                    for (std::int32_t i = 0; i < n; ++i) {
                        sum += at(i);
                        odd = odd || at(i) % 2 != 0;
                        EXPECT_EQ(at(i), at(n - 1 - i));
                        if (i > 0 && i <= n / 2) {
                            EXPECT_GE(at(i), at(i - 1));
                        }
                    }
                    EXPECT_EQ(sum, std::int64_t{1} << got.bits);
                    EXPECT_TRUE(odd || got.bits == 1)
                        << "an all-even kernel is the same kernel at fewer bits";
                    fixed_samples gf{};
                    ASSERT_EQ(tapsmith::get_fixed_samples(n, sigma, how, gf), tapsmith::status::ok);
                    const tapsmith::fixed_figures f =
                        tapsmith::get_fixed_figures(n, got.bits, pixel_bits, got.taps, gf);
                    EXPECT_EQ(f.worst_error_2d, got.worst_error_2d);
                    EXPECT_LT(f.worst_error_2d, 1.0);
                    for (std::int32_t bits = 1; bits <= tapsmith::FIXED_BITS_MAX; ++bits) {
                        fixed_taps closest{};
                        ASSERT_EQ(tapsmith::get_fixed_taps(n, sigma, bits, how, closest),
                                  tapsmith::status::ok);
                        if (tapsmith::get_fixed_figures(n, bits, pixel_bits, closest, gf).worst_error_2d <
                            1.0) {
                            EXPECT_LE(got.plan.per_pass, tapsmith::get_adder_plan(n, closest).per_pass)
                                << "closest taps at " << bits << " bits";
                        }
                    }
                }
            }
        }
    }
}

TEST(CheapestTaps, RefusesWhatCannotBeMet) {
    tapsmith::cheapest_taps got;
    tapsmith::cheapest_search search;
    search.max_error = 0.5;  // the final rounding alone reaches it
    EXPECT_EQ(tapsmith::get_cheapest_taps(5, 1.0, 8, sampling::point, search, got),
              tapsmith::status::none_fits);
    search = {};
    search.max_bits = 31;
    EXPECT_EQ(tapsmith::get_cheapest_taps(5, 1.0, 8, sampling::point, search, got),
              tapsmith::status::bad_bits);
    EXPECT_EQ(tapsmith::get_cheapest_taps(4, 1.0, 8, sampling::point, {}, got), tapsmith::status::bad_count);
    EXPECT_EQ(tapsmith::get_cheapest_taps(5, 1.0, 33, sampling::point, {}, got), tapsmith::status::bad_bits);
    // Longer filters may stop at the limit: still an answer, not proven.
    // Up to 9 taps the limit does not apply.
    search = {};
    search.node_limit = 1;
    ASSERT_EQ(tapsmith::get_cheapest_taps(9, 6.0, 6, sampling::point, search, got), tapsmith::status::ok);
    EXPECT_TRUE(got.proven);
    EXPECT_EQ(got.plan.per_pass, 16);
    search.node_limit = 1000;
    ASSERT_EQ(tapsmith::get_cheapest_taps(31, 5.0, 8, sampling::point, search, got), tapsmith::status::ok);
    EXPECT_FALSE(got.proven);
    EXPECT_LT(got.worst_error_2d, 1.0);
}

}  // namespace
