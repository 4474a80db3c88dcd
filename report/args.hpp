// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace tapsmith {

struct run_args {
    bool help = false;       // print the help line first
    bool help_only = false;  // ... and nothing else
    std::int32_t n = 5;
    double sigma = 1.0;
};

// A tap count as the report takes it: capped at DIM_MAX, with no lower bound.
std::int32_t cap_dim_mask(std::int64_t value) noexcept;

// Reads the command line the way the report always has: positions only,
// numbers as the C library's decimal conversions read them, never an error.
run_args parse_args(int argc, const char* const* argv) noexcept;

}  // namespace tapsmith
