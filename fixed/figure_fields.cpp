// SPDX-License-Identifier: MIT
#include "figure_fields.hpp"

#include <array>
#include <cstddef>

namespace tapsmith {

namespace {

using kind = field_value::kind;

field_value integer(std::int64_t v) {
    field_value f;
    f.integer = v;
    return f;
}

field_value real(double v) {
    field_value f;
    f.what = kind::real;
    f.real = v;
    return f;
}

std::size_t count(const taps_figures& f) {
    return static_cast<std::size_t>(f.settings.n);
}

field_value taps_list(const taps_figures& f) {
    field_value v;
    v.what = kind::list;
    v.rows.emplace_back(f.taps.begin(), f.taps.begin() + static_cast<std::ptrdiff_t>(count(f)));
    return v;
}

// The 2-D mask t_i t_j, exact: at most 2^60.
field_value mask_rows(const taps_figures& f) {
    field_value v;
    v.what = kind::rows;
    for (std::size_t i = 0; i < count(f); ++i) {
        std::vector<std::int64_t>& row = v.rows.emplace_back(count(f));
        for (std::size_t j = 0; j < count(f); ++j) {
            row[j] = f.taps[i] * f.taps[j];
        }
    }
    return v;
}

// Each distinct tap's signed digits, centre first, as signed powers of two.
field_value digit_rows(const taps_figures& f) {
    field_value v;
    v.what = kind::rows;
    for (std::size_t k = count(f) / 2 + 1; k-- > 0;) {
        const signed_digits d = get_signed_digits(f.taps[k]);
        std::vector<std::int64_t>& row = v.rows.emplace_back();
        for (std::int32_t j = 0; j < d.count; ++j) {
            const signed_digit& g = d.digits[static_cast<std::size_t>(j)];
            row.push_back(g.sign * (std::int64_t{1} << g.shift));
        }
    }
    return v;
}

adder_plan plan_of(const taps_figures& f) {
    return get_adder_plan(f.settings.n, f.taps);
}

constexpr std::array fields = {
    figure_field{"dim_mask", [](const taps_figures& f) { return integer(f.settings.n); }},
    figure_field{"sigma", [](const taps_figures& f) { return real(f.settings.sigma); }},
    figure_field{"bits", [](const taps_figures& f) { return integer(f.settings.bits); }},
    figure_field{"pixel_bits", [](const taps_figures& f) { return integer(f.settings.pixel_bits); }},
    figure_field{"sampling",
                 [](const taps_figures& f) {
                     field_value v;
                     v.what = kind::text;
                     v.text = sampling_name(f.settings.how);
                     return v;
                 }},
    figure_field{"taps", taps_list},
    figure_field{"sum", [](const taps_figures& f) { return integer(f.figures.sum); }},
    figure_field{"shift", [](const taps_figures& f) { return integer(f.settings.bits); }},
    figure_field{"max_error", [](const taps_figures& f) { return real(f.figures.max_error); }},
    figure_field{"mask", mask_rows},
    figure_field{"mask_sum", [](const taps_figures& f) { return integer(f.figures.mask_sum); }},
    figure_field{"mask_max_error", [](const taps_figures& f) { return real(f.figures.mask_max_error); }},
    figure_field{"worst_error_1d", [](const taps_figures& f) { return real(f.figures.worst_error_1d); }},
    figure_field{"worst_error_2d", [](const taps_figures& f) { return real(f.figures.worst_error_2d); }},
    figure_field{"nyquist_gain", [](const taps_figures& f) { return real(f.figures.nyquist_gain); }},
    figure_field{"float_nyquist_gain",
                 [](const taps_figures& f) { return real(f.figures.float_nyquist_gain); }},
    figure_field{"response_max_deviation",
                 [](const taps_figures& f) { return real(f.figures.response_max_deviation); }},
    figure_field{"accumulator_bits_1d",
                 [](const taps_figures& f) { return integer(f.settings.pixel_bits + f.settings.bits); }},
    figure_field{"accumulator_bits_2d",
                 [](const taps_figures& f) { return integer(f.settings.pixel_bits + 2 * f.settings.bits); }},
    figure_field{"adders_per_pass", [](const taps_figures& f) { return integer(plan_of(f).per_pass); }},
    figure_field{"pre_adds", [](const taps_figures& f) { return integer(plan_of(f).pre_adds); }},
    figure_field{"digit_adders", [](const taps_figures& f) { return integer(plan_of(f).digit_adders); }},
    figure_field{"tree_adders", [](const taps_figures& f) { return integer(plan_of(f).tree_adders); }},
    figure_field{"signed_digits", digit_rows},
};

}  // namespace

status get_taps_figures(const fixed_settings& s, taps_figures& out) {
    out.settings = s;
    if (get_fixed_samples(s.n, s.sigma, s.how, out.gf) != status::ok) {
        return status::out_of_memory;
    }
    if (s.minimize_adders) {
        cheapest_search search;
        search.max_error = s.max_error;
        search.max_bits = s.bits;
        cheapest_taps cheapest;
        if (const status found = get_cheapest_taps(s.n, s.sigma, s.pixel_bits, s.how, search, cheapest);
            found != status::ok) {
            return found;
        }
        out.searched_bits = s.bits;
        out.proven = cheapest.proven;
        out.settings.bits = cheapest.bits;
        out.taps = cheapest.taps;
    } else if (get_fixed_taps(s.n, s.sigma, s.bits, s.how, out.taps) != status::ok) {
        return status::out_of_memory;
    }
    out.figures = get_fixed_figures(s.n, out.settings.bits, s.pixel_bits, out.taps, out.gf);
    return status::ok;
}

std::span<const figure_field> figure_fields() noexcept {
    return fields;
}

}  // namespace tapsmith
