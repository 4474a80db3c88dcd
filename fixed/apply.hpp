// SPDX-License-Identifier: MIT
// tapsmith-fixed --apply: a PNG through the golden model, its error against
// the same filter in double precision, and test vectors for testbenches.
#pragma once

#include "formats.hpp"

#include "tapsmith/cli/files.hpp"
#include "tapsmith/image/png.hpp"

#include <string>

namespace tapsmith {

// Checks and creates every file the run writes (--output, then the two
// --vectors files), before any work: "" or the one-line reason.
std::string stage_outputs(const fixed_options& o, cli::staged_files& files);

// Reads the pixels of `in` through `reader` (opened on options.apply) and
// filters them with the result's taps into the staged files as they
// arrive, filling `figures`. Returns "" or the one-line reason it could
// not (the reader's own first); the caller commits the files.
std::string apply_to_png(const fixed_result& result, png_reader& reader, const image& in,
                         image_figures& figures, const cli::staged_files& files);

}  // namespace tapsmith
