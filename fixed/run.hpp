// SPDX-License-Identifier: MIT
#pragma once

namespace tapsmith {

// The whole program: reads the options, writes the taps in the chosen
// format to standard output, returns the exit status (0; 2 for a usage
// error, said on standard error; 1 when an output could not be written or
// an image could not be read).
int run_fixed(int argc, char** argv) noexcept;

}  // namespace tapsmith
