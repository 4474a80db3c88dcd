#include "output.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
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

// The table formatter must print exactly what printf's "%4ld " and "%6ld "
// print, over more text than the buffer holds at once.
TEST(Output, EntriesMatchPrintfAcrossBufferRefills) {
    std::vector<std::int64_t> values{0,
                                     1,
                                     -1,
                                     9,
                                     -9,
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
        values.push_back(v);
        values.push_back(-v);
    }
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    tapsmith::output out;
    out.fd = fileno(file);
    std::string expected;
    char field[32];
    for (int round = 0; round < 100; ++round) {
        for (const int width : {4, 6}) {
            for (const std::int64_t v : values) {
                tapsmith::put_entry(out, v, width);
                (void)std::snprintf(field, sizeof field, "%*ld ", width, v);
                expected += field;
            }
        }
        tapsmith::put_format(out, "%s=%lf\n", "x", 0.5 * round);
        (void)std::snprintf(field, sizeof field, "%s=%lf\n", "x", 0.5 * round);
        expected += field;
    }
    tapsmith::put(out, std::string(40000, '#'));
    expected += std::string(40000, '#');
    ASSERT_GT(expected.size(), 4 * out.data.size());
    EXPECT_EQ(tapsmith::flush(out), 0);
    EXPECT_EQ(read_back(file), expected);
    (void)std::fclose(file);
}

}  // namespace
