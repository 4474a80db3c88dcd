// SPDX-License-Identifier: MIT
// Signed digits and the adder plan the cores build, against hand-worked
// rows and an independent identity for the digit count.
#include <tapsmith/fixed.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using tapsmith::fixed_taps;

// "+2^10 -2^7 ..." for a failure message.
std::string text_of(const tapsmith::signed_digits& d) {
    std::string s;
    for (std::int32_t k = 0; k < d.count; ++k) {
        const tapsmith::signed_digit& g = d.digits[static_cast<std::size_t>(k)];
        s += (g.sign > 0 ? " +2^" : " -2^") + std::to_string(g.shift);
    }
    return s;
}

TEST(SignedDigits, WorkedByHand) {
    const struct {
        std::int64_t value;
        std::string digits;
    } rows[] = {
        {0, ""},
        {-5, ""},
        {1, " +2^0"},
        {3, " +2^2 -2^0"},
        {7, " +2^3 -2^0"},
        {31, " +2^5 -2^0"},
        {448, " +2^9 -2^6"},
        {874, " +2^10 -2^7 -2^5 +2^3 +2^1"},
        {1092, " +2^10 +2^6 +2^2"},
        {2000, " +2^11 -2^6 +2^4"},
        {3296, " +2^12 -2^10 +2^8 -2^5"},
        {std::int64_t{1} << 30, " +2^30"},
        {INT64_MAX, " +2^63 -2^0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(text_of(tapsmith::get_signed_digits(row.value)), row.digits);
    }
}

// Every value to 2^20: the digits sum to it, largest first, no two
// neighbours, and as many as the non-adjacent form's known count,
// popcount(((3v) ^ v) >> 1).
TEST(SignedDigits, FewestAndNeverNeighbours) {
    for (std::uint64_t v = 1; v <= (std::uint64_t{1} << 20); ++v) {
        const tapsmith::signed_digits d = tapsmith::get_signed_digits(static_cast<std::int64_t>(v));
        std::int64_t sum = 0;
        for (std::int32_t k = 0; k < d.count; ++k) {
            const tapsmith::signed_digit& g = d.digits[static_cast<std::size_t>(k)];
            sum += g.sign * (std::int64_t{1} << g.shift);
            if (k > 0) {
                ASSERT_GT(d.digits[static_cast<std::size_t>(k) - 1].shift, g.shift + 1) << v;
            }
        }
        ASSERT_EQ(sum, static_cast<std::int64_t>(v));
        ASSERT_EQ(d.count, std::popcount(((3 * v) ^ v) >> 1U)) << v;
    }
}

TEST(AdderPlan, WorkedByHand) {
    const struct {
        const char* name;
        std::vector<std::int64_t> half;  // t_0 .. t_m, the centre last
        tapsmith::adder_plan want;       // pre-adds, digit adders, tree adders, per pass
    } rows[] = {
        // n = 9, sigma 1.5, B = 12: the minimax taps, and cheaper ones
        {"minimax 9 taps", {31, 148, 449, 874, 1092}, {4, 11, 4, 19}},
        {"cheaper 9 taps", {32, 148, 448, 876, 1088}, {4, 7, 4, 15}},
        {"5 taps at 13 bits", {448, 2000, 3296}, {2, 6, 2, 10}},
        {"one tap", {256}, {0, 0, 0, 0}},
        {"powers of two", {64, 128}, {1, 0, 1, 2}},
        // Zero taps add nothing: no pre-add, no product, no tree input.
        {"zero outer taps", {0, 0, 1, 254}, {1, 1, 1, 3}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto m = row.half.size() - 1;
        fixed_taps taps{};
        for (std::size_t k = 0; k <= m; ++k) {
            taps[k] = row.half[k];
            taps[2 * m - k] = row.half[k];
        }
        const tapsmith::adder_plan got = tapsmith::get_adder_plan(static_cast<std::int32_t>(2 * m + 1), taps);
        EXPECT_EQ(got.pre_adds, row.want.pre_adds);
        EXPECT_EQ(got.digit_adders, row.want.digit_adders);
        EXPECT_EQ(got.tree_adders, row.want.tree_adders);
        EXPECT_EQ(got.per_pass, row.want.per_pass);
    }
}

TEST(AdderPlan, NothingForTapsItCannotBuild) {
    fixed_taps asymmetric{};
    asymmetric[0] = 1;
    asymmetric[1] = 2;
    asymmetric[2] = 5;
    fixed_taps negative{};
    negative[0] = -1;
    negative[1] = 10;
    negative[2] = -1;
    const struct {
        const char* name;
        std::int32_t n;
        const fixed_taps& taps;
    } rows[] = {{"asymmetric", 3, asymmetric},
                {"negative", 3, negative},
                {"even", 2, asymmetric},
                {"none", 0, asymmetric},
                {"too many", 129, asymmetric}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const tapsmith::adder_plan got = tapsmith::get_adder_plan(row.n, row.taps);
        EXPECT_EQ(got.per_pass + got.pre_adds + got.digit_adders + got.tree_adders, 0);
    }
}

}  // namespace
