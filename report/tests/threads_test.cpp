// SPDX-License-Identifier: MIT
// The report keeps no state between runs: runs in several threads at once
// each give exactly what a run alone gives.
#include "report.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ReportThreads, RunsAtOnceMatchRunsAlone) {
    const struct {
        std::int64_t n;
        double sigma;
    } rows[] = {{1, 0.5}, {3, 0.8}, {5, 1.0}, {7, 1.7}, {9, 2.5}, {9, 0.3}, {0, 1.0}, {4, 3.0}};
    std::vector<std::string> alone;
    for (const auto& row : rows) {
        alone.push_back(tapsmith::report_text(row.n, row.sigma));
    }
    constexpr int rounds = 50;
    std::vector<std::vector<std::string>> seen(std::size(rows));
    {
        std::vector<std::jthread> threads;
        for (std::size_t k = 0; k < std::size(rows); ++k) {
            threads.emplace_back([&, k] {
                for (int r = 0; r < rounds; ++r) {
                    seen[k].push_back(tapsmith::report_text(rows[k].n, rows[k].sigma));
                }
            });
        }
    }
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        SCOPED_TRACE(::testing::Message() << "n " << rows[k].n << ", sigma " << rows[k].sigma);
        for (const std::string& text : seen[k]) {
            ASSERT_EQ(text, alone[k]);
        }
    }
}

}  // namespace
