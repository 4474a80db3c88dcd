// SPDX-License-Identifier: MIT
// How the programs end, as coreutils' programs do.
#pragma once

#include "tapsmith/cli/output.hpp"

#include <string_view>

namespace tapsmith::cli {

inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1;  // the output could not be written, an input could not be read
inline constexpr int exit_usage = 2;    // the arguments are wrong; nothing was written on standard output

// The end of a run: flushes, and if anything could not be written says so
// on standard error ("PROGRAM: write error: ..."). Returns exit_ok or exit_failure.
int finish(output& out, std::string_view program) noexcept;

// "PROGRAM: MESSAGE" on standard error; returns exit_failure.
int fail(std::string_view program, std::string_view message) noexcept;

}  // namespace tapsmith::cli
