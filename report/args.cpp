// SPDX-License-Identifier: MIT
#include "args.hpp"

#include <tapsmith/kernel.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tapsmith {

std::int32_t cap_dim_mask(std::int64_t value) noexcept {
    // The 32-bit clamp keeps "99999999999" large.
    const std::int64_t clamped = std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                          std::numeric_limits<std::int32_t>::max());
    // No lower bound on purpose: zero or a negative count prints an empty report.
    return static_cast<std::int32_t>(std::min(static_cast<double>(DIM_MAX), static_cast<double>(clamped)));
}

namespace {

// strtoll reads exactly what atoi reads, but saturates where atoi's result
// is undefined.
std::int32_t read_dim_mask(const char* text) noexcept {
    return cap_dim_mask(std::strtoll(text, nullptr, 10));
}

}  // namespace

run_args parse_args(int argc, const char* const* argv) noexcept {
    run_args args;
    if (argc <= 1) {
        args.help = true;
        return args;
    }
    if (argc == 2 && std::strcmp(argv[1], "-h") == 0) {
        args.help = true;
        args.help_only = true;
        return args;
    }
    args.n = read_dim_mask(argv[1]);
    if (argc >= 3) {
        args.sigma = std::strtod(argv[2], nullptr);
    }
    return args;
}

}  // namespace tapsmith
