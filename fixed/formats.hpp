// SPDX-License-Identifier: MIT
// tapsmith-fixed's output formats: one table of {name, writer}, so that a
// new format is one row.
#pragma once

#include "figure_fields.hpp"
#include "options.hpp"

#include <tapsmith/fixed.hpp>

#include "tapsmith/cli/output.hpp"

#include <string>
#include <string_view>

namespace tapsmith {

// What an image run adds to the figures.
struct image_figures {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;
    double psnr_db = 0.0;
    double max_abs_error = 0.0;
};

// Everything a writer prints, worked out once: the taps' figures with the
// settings they were resolved to (the B the cheapest taps were found at,
// not the ceiling asked for), the options for the rest (format, name), and
// what an image run adds.
struct fixed_result : taps_figures {
    const fixed_options* options = nullptr;
    const image_figures* image = nullptr;  // with --apply
};

struct format_entry {
    std::string_view name;
    void (*write)(cli::output& out, const fixed_result& r) noexcept;
};

// nullptr for a name no format has.
const format_entry* find_format(std::string_view name) noexcept;

// "text, json, c, sv, vhdl, response or svg"
std::string format_names();

}  // namespace tapsmith
