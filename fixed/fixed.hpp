// SPDX-License-Identifier: MIT
#pragma once

#include <tapsmith/kernel.hpp>

#include <cstdint>

namespace tapsmith {

// What the formats print beyond the arguments, worked out once from the taps.
struct fixed_figures {
    int_table taps;
    std::int64_t sum;
    double max_error;  // max |t_i 2^-B - GF_i|
    mask_table mask;   // t_i t_j, exact: at most 2^60
    std::int64_t mask_sum;
    double mask_max_error;  // max |t_i t_j 2^-2B - GF_i GF_j|
};

// false when the kernel has no taps for these arguments.
bool work_out_figures(std::int32_t n, double sigma, std::int32_t bits, fixed_figures& out) noexcept;

// The whole program: reads the options, writes the taps in the chosen
// format to standard output, returns the exit status (0; 2 for a usage
// error, said on standard error; 1 when the output could not be written).
int run_fixed(int argc, char** argv) noexcept;

}  // namespace tapsmith
