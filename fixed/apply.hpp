// SPDX-License-Identifier: MIT
// tapsmith-fixed --apply: a PNG through the golden model, its error against
// the same filter in double precision, and test vectors for testbenches.
#pragma once

#include "formats.hpp"

#include "tapsmith/image/png.hpp"

#include <string>

namespace tapsmith {

// Filters `in` (read from options.apply) into options.output with the
// result's taps and fills `figures`. Returns "" or the one-line reason it
// could not.
std::string apply_to_png(const fixed_result& result, const image& in, image_figures& figures);

}  // namespace tapsmith
