// SPDX-License-Identifier: MIT
#include "report.hpp"

#include "args.hpp"

#include <tapsmith/kernel.hpp>
#include <tapsmith/saturating.hpp>

#include "tapsmith/cli/output.hpp"
#include "tapsmith/cli/status.hpp"

#include <algorithm>
#include <limits>
#include <string_view>

namespace tapsmith {

namespace {

using cli::output;
using cli::put;
using cli::put_fixed;
using cli::put_int;
using cli::put_row;

// The run's tables: zero at start, written only below n, alive to the end
// of the run. They belong to one run, not to the program, so that runs in
// several threads (the Python module's) never share them.
struct report_tables {
    samples_table gf{};
    samples_table GF{};
    int_table GI{};
    mask_table mask{};
    mask_table mask2{};
};

constexpr std::string_view help_line = "Help: ./tapsmith <dim_mask> <sigma>\n";

void put_mask(output& out, std::size_t taps, const mask_table& table) noexcept {
    for (std::size_t i = 0; i < taps; ++i) {
        put_row(out, table[i].data(), taps, 4);
    }
}

std::int64_t mask_sum(std::size_t taps, const mask_table& table) noexcept {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            sum = sat_add(sum, table[i][j]);
        }
    }
    return sum;
}

// "NAME%d]=%f\n": one line of the floating-point tables.
void put_tap(output& out, std::string_view name, std::size_t i, double value) noexcept {
    put(out, name);
    put_int(out, static_cast<std::int64_t>(i));
    put(out, "]=");
    put_fixed(out, value);
    put(out, "\n");
}

// "LABEL = FACTOR - rounded POWER - rel_error = ERROR": how far a
// normalization factor lies from the power of two a shifter would divide
// by. An empty mask gives 0/0, a NaN, printed with the sign the platform
// gives it (-nan on x86-64).
void put_fit(output& out, std::string_view label, std::int64_t factor) noexcept {
    const std::int64_t rounded = round_to_pow2(static_cast<double>(factor));
    const double rel_error = static_cast<double>(sat_sub(factor, rounded)) / static_cast<double>(factor);
    put(out, label);
    put(out, " = ");
    put_int(out, factor);
    put(out, " - rounded ");
    put_int(out, rounded);
    put(out, " - rel_error = ");
    put_fixed(out, rel_error);
    put(out, "\n");
}

void report_1d(output& out, report_tables& t, std::int32_t n, double sigma) noexcept {
    const std::size_t taps = table_reach(n);
    put(out, "Program launched with\n  n=");
    put_int(out, n);
    put(out, "\n  sigma=");
    put_fixed(out, sigma);
    put(out, "\n\n");

    put(out, "Calculate integer approximated coefficients for gaussian filter.\n");
    for (std::size_t i = 0; i < taps; ++i) {
        t.gf[i] = gaussian_sampling(n, static_cast<std::int32_t>(i), sigma);
        put_tap(out, "gf[", i, t.gf[i]);
    }

    put(out, "Get coefficients as calculated with default OpenCV functions:\n");
    get_float_coeffs(n, t.gf, t.GF);
    for (std::size_t i = 0; i < taps; ++i) {
        put_tap(out, "-d: GF[", i, t.GF[i]);
    }

    put(out, "Get integer approximated coefficients:\n");
    get_int_coeffs(n, t.gf, t.GI);
    std::int64_t factor = 0;
    for (std::size_t i = 0; i < taps; ++i) {
        put(out, "-d: GI[");
        put_int(out, static_cast<std::int64_t>(i));
        put(out, "]=");
        put_int(out, t.GI[i]);
        put(out, "\n");
        factor = sat_add(factor, t.GI[i]);
    }
    put(out, "Normalization factor (1D) = ");
    put_int(out, factor);
    put(out, "\n");
}

void report_2d(output& out, report_tables& t, std::int32_t n) noexcept {
    const std::size_t taps = table_reach(n);

    put(out, "\nGaussian filter mask:\n");
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            t.mask[i][j] = sat_mul(t.GI[j], t.GI[i]);
        }
    }
    put_mask(out, taps, t.mask);
    put_fit(out, "Normalization factor (2D)", mask_sum(taps, t.mask));

    put(out, "\nRounded to pow-of-2 Gaussian filter mask:\n");
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            t.mask2[i][j] = round_to_pow2(static_cast<double>(t.mask[i][j]));
        }
    }
    put_mask(out, taps, t.mask2);
    put_fit(out, "Appr normalization factor (2D)", mask_sum(taps, t.mask2));

    put(out, "\n\n----------------------------------------------------\n\n");
    put(out, "\nErrors (mask - pow2_mask)\n");
    mask_table errors{};
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            errors[i][j] = sat_sub(t.mask[i][j], t.mask2[i][j]);
        }
    }
    put_mask(out, taps, errors);
    put(out, "\n\nSSE(mask, mask2)=");
    put_int(out, SSE(n, t.mask, t.mask2));
    put(out, "\n");
}

// The power-of-two mask once more, from n and sigma alone, so a reader can
// check the builder against the table above.
void report_self_test(output& out, std::int32_t n, double sigma) noexcept {
    put(out, "Test:\n");
    coeff_matrix matrix;
    std::int64_t factor = 0;
    get_custom_pow2_coeff_matrix(n, sigma, matrix, factor);
    const std::size_t taps = matrix ? table_reach(n) : 0;
    for (std::size_t i = 0; i < taps; ++i) {
        put_row(out, &matrix[i * taps], taps, 6);
    }
    put(out, "\n");
}

}  // namespace

void write_report(output& out, const run_args& args) noexcept {
    if (args.help) {
        put(out, help_line);
        if (!args.help_only) {
            put(out, "\n");
        }
    }
    if (!args.help_only) {
        report_tables tables;
        report_1d(out, tables, args.n, args.sigma);
        report_2d(out, tables, args.n);
        report_self_test(out, args.n, args.sigma);
    }
}

int run_report(int argc, const char* const* argv) noexcept {
    output out;
    write_report(out, parse_args(argc, argv));
    return cli::finish(out, "tapsmith");
}

}  // namespace tapsmith
