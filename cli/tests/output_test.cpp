// SPDX-License-Identifier: MIT
#include "tapsmith/cli/output.hpp"
#include "tapsmith/cli/status.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string read_back(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

// Every field the formatter writes must be what printf writes, over more
// text than the buffer holds at once: integers as "%*" PRId64 (table rows
// with a space after each entry), doubles as "%f" and "%.*g".
TEST(Output, FieldsMatchPrintfAcrossBufferRefills) {
    std::vector<std::int64_t> ints{0,
                                   1,
                                   -1,
                                   9,
                                   -9,
                                   10,
                                   99,
                                   100,
                                   -100,
                                   999,
                                   -999,
                                   1000,
                                   -1000,
                                   99999,
                                   -99999,
                                   123456,
                                   7200000000,
                                   std::numeric_limits<std::int64_t>::max(),
                                   std::numeric_limits<std::int64_t>::min()};
    for (std::int64_t v = 1; v <= std::numeric_limits<std::int64_t>::max() / 3; v *= 3) {
        ints.push_back(v);
        ints.push_back(-v);
    }
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Ties at the sixth decimal (k/128 for odd k), huge, tiny and subnormal
    // values, both zeros, both infinities and both NaNs.
    std::vector<double> doubles{0.0,
                                -0.0,
                                inf,
                                -inf,
                                nan,
                                std::copysign(nan, -1.0),
                                0.1,
                                1.0 / 3,
                                1e22,
                                1e300,
                                std::numeric_limits<double>::max(),
                                -std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::denorm_min(),
                                999999.9999995,
                                0.9999995};
    for (int k = 1; k < 4000; k += 2) {
        doubles.push_back(k / 128.0);
        doubles.push_back(-k / 128.0);
    }
    for (int e = -1074; e <= 1023; e += 3) {
        doubles.push_back(std::ldexp(1.0, e));
        doubles.push_back(-std::ldexp(1.5, e - 1));
    }

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    tapsmith::cli::output out(fileno(file));
    std::string expected;
    char field[400];
    for (int round = 0; round < 20; ++round) {
        for (const int width : {0, 4, 6}) {
            for (const std::int64_t v : ints) {
                tapsmith::cli::put_int(out, v, width);
                (void)std::snprintf(field, sizeof field, "%*" PRId64, width, v);
                expected += field;
            }
            tapsmith::cli::put_row(out, ints.data(), ints.size(), width);
            for (const std::int64_t v : ints) {
                (void)std::snprintf(field, sizeof field, "%*" PRId64 " ", width, v);
                expected += field;
            }
            expected += '\n';
        }
    }
    for (const double v : doubles) {
        tapsmith::cli::put_fixed(out, v);
        tapsmith::cli::put_general(out, v, 4);
        (void)std::snprintf(field, sizeof field, "%f%.4g", v, v);
        expected += field;
    }
    // Longer than the whole buffer; its length is not known to the compiler.
    const std::string hashes(40000 + expected.size() % 8, '#');
    tapsmith::cli::put(out, hashes);
    expected += hashes;
    ASSERT_GT(expected.size(), 4 * 16384U);
    EXPECT_EQ(out.flush(), 0);
    const std::string got = read_back(file);
    (void)std::fclose(file);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); i += 200) {
        ASSERT_EQ(got.substr(i, 200), expected.substr(i, 200)) << "at byte " << i;
    }
}

// The shortest form must read back as the same double.
TEST(Output, ShortestRoundTrips) {
    for (const double v : {0.1, 1.0, 1.0 / 3, 5e-324, 1.7976931348623157e308, 0.0036307961837163534}) {
        std::string text;
        {
            tapsmith::cli::output out(text);
            tapsmith::cli::put_shortest(out, v);
        }
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
}

// print() against the text written out by hand, one row per format feature.
TEST(Print, FillsPositionalAndSequentialFields) {
    using tapsmith::cli::arg;
    const struct {
        const char* format;
        std::initializer_list<arg> args;
        const char* expected;
    } rows[] = {
        {"plain", {}, "plain"},
        {"{} and {}", {1, "two"}, "1 and two"},
        {"{1}{0}{1}", {"a", "b"}, "bab"},
        {"{{literal}} {0}", {7}, "{literal} 7"},
        {"[{0:6}]", {std::int64_t{-42}}, "[   -42]"},
        {"{0:02x} {1:04x} {1:02x}", {std::int64_t{10}, std::int64_t{0xbeef}}, "0a beef beef"},
        {"{0:f} {0:.4g} {0}", {0.0036307961837163534}, "0.003631 0.003631 0.0036307961837163533"},
        {"{0:.4g}", {2.5e-7}, "2.5e-07"},
        {"{0:.2f}|{1:.0f}", {0.925, 2.5}, "0.93|2"},
        {"{5} missing", {1}, " missing"},
        {"unclosed {", {1}, "unclosed {"},
        {"stray } brace", {}, "stray } brace"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.format);
        std::string text;
        {
            tapsmith::cli::output out(text);
            tapsmith::cli::print(out, row.format, row.args);
        }
        EXPECT_EQ(text, row.expected);
    }
    std::string list;
    {
        tapsmith::cli::output out(list);
        const std::int64_t values[] = {3, -4, 5};
        tapsmith::cli::print_list(out, values, 3, ", ", "I({0})");
    }
    EXPECT_EQ(list, "I(3), I(-4), I(5)");
}

}  // namespace
