// SPDX-License-Identifier: MIT
// The reference's row loops, on every instruction set built that this
// processor runs: each pixel's sum is the terms added one at a time, left
// to right, and a row's squared errors are added as the lanes below, exactly
// as written here, to the last bit.
#include "weighted_sum.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

TEST(WeightedSum, EveryBuildAddsTheTermsInOrder) {
    struct row {
        std::size_t w, terms;
    } const rows[] = {{1, 1}, {3, 2}, {7, 4}, {37, 5}, {64, 9}, {101, 31}, {1000, 127}};
    std::uint64_t state = 7;
    const auto next = [&state] {
        state = state * 6364136223846793005U + 1442695040888963407U;
        return static_cast<double>(state >> 11U) / 9007199254740992.0;  // [0, 1), 53 bits
    };
    for (const row& r : rows) {
        std::vector<std::vector<double>> lines(r.terms, std::vector<double>(r.w));
        std::vector<const double*> from;
        std::vector<double> g(r.terms);
        for (std::size_t t = 0; t < r.terms; ++t) {
            for (double& v : lines[t]) {
                v = static_cast<double>(static_cast<int>(next() * 65536.0));
            }
            from.push_back(lines[t].data());
            g[t] = next();
        }
        std::vector<double> want(r.w);
        for (std::size_t x = 0; x < r.w; ++x) {
            double sum = g[0] * lines[0][x];
            for (std::size_t t = 1; t < r.terms; ++t) {
                const double product = g[t] * lines[t][x];
                sum = sum + product;
            }
            want[x] = sum;
        }
        for (std::size_t i = 0; i < tapsmith::weighted_sum_loops(); ++i) {
            std::vector<double> got(r.w, -1.0);
            tapsmith::weighted_sum_on(i, got.data(), from.data(), g.data(), r.terms, r.w);
            EXPECT_EQ(std::memcmp(got.data(), want.data(), r.w * sizeof(double)), 0)
                << "w " << r.w << ", " << r.terms << " terms, build " << i << " of "
                << tapsmith::weighted_sum_loops();
        }
    }
}

// A row's squared errors: eight running sums, pixel x in sum x mod 8, then
// added pairwise, on every build, to the last bit; samples `step` apart.
TEST(WeightedSum, EveryBuildAddsARowsSquaresTheSameWay) {
    struct row {
        std::size_t w, step;
        bool bytes;  // 8-bit samples
    } const rows[] = {{1, 1, false}, {5, 1, true},   {8, 3, false},    {9, 1, false},
                      {63, 2, true}, {200, 1, true}, {1001, 4, false}, {1001, 1, true}};
    std::uint64_t state = 11;
    for (const row& r : rows) {
        std::vector<std::uint16_t> got(r.w * r.step);
        std::vector<double> ref(r.w);
        for (std::size_t x = 0; x < r.w; ++x) {
            state = state * 6364136223846793005U + 1442695040888963407U;
            got[x * r.step] = static_cast<std::uint16_t>(state >> (r.bytes ? 56U : 48U));
            // Errors of 53 bits, so that the order of the additions shows.
            ref[x] = static_cast<double>(got[x * r.step]) +
                     static_cast<double>(state >> 11U) / 9007199254740992.0 - 0.5;
        }
        double lane[8] = {};
        double largest = 0.0;
        for (std::size_t x = 0; x < r.w; ++x) {
            const double e = static_cast<double>(got[x * r.step]) - ref[x];
            lane[x % 8] = lane[x % 8] + e * e;
            largest = std::max(largest, std::fabs(e));
        }
        const double want =
            ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
        // Whole, and in two pieces split at a multiple of 8.
        const std::vector<std::uint8_t> narrow(got.begin(), got.end());
        const std::size_t split = r.w / 16 * 8;
        for (std::size_t i = 0; i < tapsmith::weighted_sum_loops(); ++i) {
            for (const std::size_t piece : {r.w, split}) {
                double worst = 0.25;
                tapsmith::square_lanes lanes;
                for (std::size_t x = 0; x<r.w; x += piece> 0 ? piece : r.w) {
                    const std::size_t len = std::min(piece > 0 ? piece : r.w, r.w - x);
                    if (r.bytes) {
                        tapsmith::add_squares_on(i, &narrow[x * r.step], r.step, &ref[x], len, lanes, worst);
                    } else {
                        tapsmith::add_squares_on(i, &got[x * r.step], r.step, &ref[x], len, lanes, worst);
                    }
                }
                const double sum = tapsmith::lane_total(lanes);
                EXPECT_EQ(sum, want) << "w " << r.w << ", step " << r.step << ", pieces of " << piece
                                     << ", build " << i << ": " << sum << " against " << want;
                EXPECT_EQ(worst, std::max(0.25, largest))
                    << "w " << r.w << ", step " << r.step << ", pieces of " << piece << ", build " << i;
            }
        }
    }
}

// One channel of a row made doubles, on every build: the channel's own
// samples, and nothing read past the row's last sample (the row ends the
// allocation, where ASan sees an overrun).
TEST(WeightedSum, EveryBuildWidensOneChannel) {
    struct row {
        std::size_t pixels, step, channel;
    } const rows[] = {{1, 1, 0}, {8, 1, 0},  {9, 3, 2},  {16, 3, 2},  {17, 3, 1},
                      {9, 2, 1}, {33, 4, 3}, {40, 4, 3}, {100, 3, 2}, {7, 2, 0}};
    for (const row& r : rows) {
        const std::size_t samples = r.pixels * r.step;
        const auto wide = std::make_unique<std::uint16_t[]>(samples);
        const auto narrow = std::make_unique<std::uint8_t[]>(samples);
        for (std::size_t k = 0; k < samples; ++k) {
            wide[k] = static_cast<std::uint16_t>(k * 2654435761U >> 8U);
            narrow[k] = static_cast<std::uint8_t>(wide[k]);
        }
        for (std::size_t i = 0; i < tapsmith::weighted_sum_loops(); ++i) {
            std::vector<double> got16(r.pixels, -1.0);
            std::vector<double> got8(r.pixels, -1.0);
            tapsmith::widen_samples_on(i, &wide[r.channel], r.step, got16.data(), r.pixels);
            tapsmith::widen_samples_on(i, &narrow[r.channel], r.step, got8.data(), r.pixels);
            for (std::size_t x = 0; x < r.pixels; ++x) {
                const std::size_t k = x * r.step + r.channel;
                ASSERT_EQ(got16[x], wide[k])
                    << r.pixels << " pixels, step " << r.step << ", x " << x << ", build " << i;
                ASSERT_EQ(got8[x], narrow[k])
                    << r.pixels << " pixels, step " << r.step << ", x " << x << ", build " << i;
            }
        }
    }
}

}  // namespace
