// SPDX-License-Identifier: MIT
// The figures of a set of taps, field by field, in one table: what
// tapsmith-fixed's JSON output prints and the Python module's
// fixed_figures() returns, in the same order under the same names.
#pragma once

#include "settings.hpp"

#include <tapsmith/fixed.hpp>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tapsmith {

// Everything the figures come from, worked out once.
struct taps_figures {
    fixed_settings settings;  // resolved: no auto left
    fixed_samples gf{};
    fixed_taps taps{};
    fixed_figures figures{};
    // With minimize_adders: the B searched up to (settings.bits is the B
    // found) and whether no cheaper taps exist.
    std::int32_t searched_bits = 0;
    bool proven = false;
};

// The taps and figures of settings that check_settings resolved: the
// closest taps at bits, or with minimize_adders the cheapest of every B up
// to bits (none_fits when no taps keep the error below max_error). Else
// only the search table's memory can fail (out_of_memory).
status get_taps_figures(const fixed_settings& s, taps_figures& out);

// One field's value: a number, a text, a list of integers or rows of them.
struct field_value {
    enum class kind { integer, real, text, list, rows };
    kind what = kind::integer;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string_view text;
    std::vector<std::vector<std::int64_t>> rows;  // a list is the one row
};

struct figure_field {
    std::string_view name;
    field_value (*value)(const taps_figures& f);
};

std::span<const figure_field> figure_fields() noexcept;

}  // namespace tapsmith
