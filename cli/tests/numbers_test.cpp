// SPDX-License-Identifier: MIT
#include "tapsmith/cli/numbers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

using tapsmith::cli::read_integer;
using tapsmith::cli::read_real;

TEST(ReadInteger, TakesOnlyWholeNumbersInRange) {
    const struct {
        const char* text;
        std::optional<std::int64_t> expected;
    } rows[] = {
        {"5", 5},
        {"+5", 5},
        {"-3", -3},
        {"0", 0},
        {"127", 127},
        {"128", std::nullopt},
        {"-4", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"5x", std::nullopt},
        {"5.0", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"+-5", std::nullopt},
        {"++5", std::nullopt},
        {"0x5", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(read_integer(row.text, -3, 127), row.expected);
    }
}

// What strtod reads whole, with its value; strtod itself is the second source.
TEST(ReadReal, ReadsWhatStrtodReadsWhole) {
    for (const char* text : {"1", "1.0", "+1.5", "-2.5", ".5", "5.", "1e3", "1E-3", "0x1p-3", "-0x1.8p1",
                             "0X10", "1e-310", "inf", "-inf", "nan", "2.2250738585072014e-308"}) {
        SCOPED_TRACE(text);
        const std::optional<double> got = read_real(text);
        ASSERT_TRUE(got.has_value());
        const double want = std::strtod(text, nullptr);
        if (std::isnan(want)) {
            EXPECT_TRUE(std::isnan(*got));
        } else {
            EXPECT_EQ(*got, want);
        }
    }
}

TEST(ReadReal, RefusesAnythingButOneNumber) {
    for (const char* text : {"", " 1", "1 ", "1x", "abc", "+", "-", "+-1", "--1", "0x", "0x-1", "-0x+1",
                             "1e999", "-1e999", "1e-400", "1..2"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(read_real(text).has_value());
    }
}

}  // namespace
