// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace tapsmith {

struct run_args;
namespace cli {
class output;
}

// The report for these arguments.
void write_report(cli::output& out, const run_args& args) noexcept;

// The whole program: reads the arguments, writes the report to standard
// output and returns the exit status (0, or 1 when the report could not be
// written, which is then said on standard error).
int run_report(int argc, const char* const* argv) noexcept;

// The report for these arguments, byte for byte what the program prints
// for them (the tap count is capped as on the command line).
std::string report_text(std::int64_t dim_mask, double sigma);

}  // namespace tapsmith
