// SPDX-License-Identifier: MIT
#include "args.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct args_case {
    std::vector<const char*> argv;  // without the program name
    bool help;
    bool help_only;
    std::int32_t n;
    double sigma;
};

TEST(ParseArgs, ReadsPositionsLikeTheCLibrary) {
    const args_case cases[] = {{{}, true, false, 5, 1.0},
                               {{"-h"}, true, true, 5, 1.0},
                               {{"-h", "2"}, false, false, 0, 2.0},
                               {{"-h", "2", "3"}, false, false, 0, 2.0},
                               {{"5", "1"}, false, false, 5, 1.0},
                               {{"7"}, false, false, 7, 1.0},
                               {{"12", "0.5"}, false, false, 9, 0.5},
                               {{"9"}, false, false, 9, 1.0},
                               {{"5", "1", "extra"}, false, false, 5, 1.0},
                               {{"-3"}, false, false, -3, 1.0},
                               {{"8abc"}, false, false, 8, 1.0},
                               {{"3.7"}, false, false, 3, 1.0},
                               {{"abc"}, false, false, 0, 1.0},
                               {{""}, false, false, 0, 1.0},
                               {{" 7"}, false, false, 7, 1.0},
                               {{"+7"}, false, false, 7, 1.0},
                               {{"-0"}, false, false, 0, 1.0},
                               {{"0x5"}, false, false, 0, 1.0},
                               {{"--h"}, false, false, 0, 1.0},
                               {{"-hx"}, false, false, 0, 1.0},  // only "-h" itself is the help
                               {{"-help"}, false, false, 0, 1.0},
                               {{"-H"}, false, false, 0, 1.0},
                               {{"99999999999"}, false, false, 9, 1.0},
                               {{"-99999999999"}, false, false, -2147483647 - 1, 1.0},
                               {{"-2147483648"}, false, false, -2147483647 - 1, 1.0},
                               {{"99999999999999999999999999"}, false, false, 9, 1.0},
                               {{"5", "junk"}, false, false, 5, 0.0},
                               {{"5", ""}, false, false, 5, 0.0},
                               {{"5", "0x1p-3"}, false, false, 5, 0.125},
                               {{"5", "2.5e1x"}, false, false, 5, 25.0},
                               {{"5", "-inf"}, false, false, 5, -HUGE_VAL},
                               {{"5", "1e999"}, false, false, 5, HUGE_VAL}};
    for (const auto& c : cases) {
        std::vector<const char*> argv{"tapsmith"};
        argv.insert(argv.end(), c.argv.begin(), c.argv.end());
        std::string shown;
        for (const char* a : c.argv) {
            shown += std::string("'") + a + "' ";
        }
        const tapsmith::run_args got = tapsmith::parse_args(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(got.help, c.help) << shown;
        EXPECT_EQ(got.help_only, c.help_only) << shown;
        EXPECT_EQ(got.n, c.n) << shown;
        EXPECT_EQ(got.sigma, c.sigma) << shown;
    }
}

TEST(ParseArgs, ReadsNanAndAnEmptyVector) {
    const char* nan_argv[] = {"tapsmith", "5", "nan"};
    EXPECT_TRUE(std::isnan(tapsmith::parse_args(3, nan_argv).sigma));
    // execve allows argc == 0: that is no arguments at all.
    const tapsmith::run_args none = tapsmith::parse_args(0, nullptr);
    EXPECT_TRUE(none.help);
    EXPECT_FALSE(none.help_only);
    EXPECT_EQ(none.n, 5);
}

}  // namespace
