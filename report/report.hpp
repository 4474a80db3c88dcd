// SPDX-License-Identifier: MIT
#pragma once

namespace tapsmith {

// The whole program: reads the arguments, writes the report to standard
// output and returns the exit status (0, or 1 when the report could not be
// written, which is then said on standard error).
int run_report(int argc, const char* const* argv) noexcept;

}  // namespace tapsmith
