// SPDX-License-Identifier: MIT
#include "formats.hpp"

#include <array>
#include <cstdint>

namespace tapsmith {

namespace {

using cli::arg;
using cli::output;
using cli::print;
using cli::print_list;

// The taps' entries 0 .. n-1.
struct taps_view {
    const std::int64_t* data;
    std::size_t size;
};

taps_view taps_of(const fixed_result& r) noexcept {
    return {r.taps.data(), static_cast<std::size_t>(r.options->settings.n)};
}

// Row i of the 2-D mask, t_i t_j (exact: at most 2^60).
void mask_row(const fixed_result& r, std::size_t i, fixed_taps& row) noexcept {
    const taps_view t = taps_of(r);
    for (std::size_t j = 0; j < t.size; ++j) {
        row[j] = t.data[i] * t.data[j];
    }
}

// The command that gives this output, rebuilt from the values read, so
// that a comment never carries text from the command line verbatim.
void print_command(output& out, const fixed_result& r, bool named) noexcept {
    const fixed_options& o = *r.options;
    const fixed_settings& s = o.settings;
    print(out, "tapsmith-fixed --bits={0} --pixel-bits={1} --format={2}", {s.bits, s.pixel_bits, o.format->name});
    if (named) {
        print(out, " --name={0}", {o.name});
    }
    print(out, " {0} {1}", {s.n, s.sigma});
}

void write_text(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.options->settings;
    const fixed_figures& f = r.figures;
    const taps_view t = taps_of(r);
    print(out, "{0} taps, sigma {1}, {2} bits\ntaps:       ", {s.n, s.sigma, s.bits});
    print_list(out, t.data, t.size, " ");
    print(out,
          "\nsum:        {0} = 2^{1}, normalise with (x + {2}) >> {1}\n"
          "max error:  {3:.4g} (largest |tap / 2^{1} - normalised sample|)\n"
          "\n"
          "2-D mask, sum {4} = 2^{5}:\n",
          {f.sum, s.bits, f.sum / 2, f.max_error, f.mask_sum, 2 * s.bits});
    fixed_taps row{};
    for (std::size_t i = 0; i < t.size; ++i) {
        mask_row(r, i, row);
        cli::put_row(out, row.data(), t.size, 6);
    }
    print(out,
          "mask max error: {0:.4g}\n"
          "\n"
          "accumulators for {1}-bit pixels: {2} bits for a 1-D pass, {3} bits for the 2-D mask\n",
          {f.mask_max_error, s.pixel_bits, s.pixel_bits + s.bits, s.pixel_bits + 2 * s.bits});
}

void write_json(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.options->settings;
    const fixed_figures& f = r.figures;
    const taps_view t = taps_of(r);
    print(out,
          "{{\n"
          "  \"dim_mask\": {0},\n"
          "  \"sigma\": {1},\n"
          "  \"bits\": {2},\n"
          "  \"pixel_bits\": {3},\n"
          "  \"taps\": [",
          {s.n, s.sigma, s.bits, s.pixel_bits});
    print_list(out, t.data, t.size, ", ");
    print(out,
          "],\n"
          "  \"sum\": {0},\n"
          "  \"shift\": {1},\n"
          "  \"max_error\": {2},\n"
          "  \"mask\": [\n",
          {f.sum, s.bits, f.max_error});
    fixed_taps row{};
    for (std::size_t i = 0; i < t.size; ++i) {
        mask_row(r, i, row);
        put(out, "    [");
        print_list(out, row.data(), t.size, ", ");
        put(out, i + 1 < t.size ? "],\n" : "]\n");
    }
    print(out,
          "  ],\n"
          "  \"mask_sum\": {0},\n"
          "  \"mask_max_error\": {1},\n"
          "  \"accumulator_bits_1d\": {2},\n"
          "  \"accumulator_bits_2d\": {3}\n"
          "}}\n",
          {f.mask_sum, f.mask_max_error, s.pixel_bits + s.bits, s.pixel_bits + 2 * s.bits});
}

void write_c(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.options->settings;
    const taps_view t = taps_of(r);
    put(out, "/* ");
    print_command(out, r, true);
    print(out,
          "\n"
          " * Gaussian taps that sum to exactly 2^{1}: normalise a 1-D pass with (acc + (1 << (SHIFT - 1))) >> SHIFT,\n"
          " * the 2-D mask with MASK_SHIFT. */\n"
          "#ifndef {0}_TAPS_H\n"
          "#define {0}_TAPS_H\n"
          "\n"
          "#include <stdint.h>\n"
          "\n"
          "#define {0}_N {2}\n"
          "#define {0}_SHIFT {1}\n"
          "#define {0}_MASK_SHIFT {3}\n"
          "\n"
          "static const int32_t {0}_taps[{0}_N] = {{",
          {r.options->name, s.bits, s.n, 2 * s.bits});
    print_list(out, t.data, t.size, ", ");
    print(out, "}};\n\nstatic const int64_t {0}_mask[{0}_N][{0}_N] = {{\n", {r.options->name});
    fixed_taps row{};
    for (std::size_t i = 0; i < t.size; ++i) {
        mask_row(r, i, row);
        put(out, "    {");
        print_list(out, row.data(), t.size, ", ", "INT64_C({0})");
        put(out, "},\n");
    }
    put(out, "};\n\n#endif\n");
}

void write_sv(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.options->settings;
    const taps_view t = taps_of(r);
    put(out, "// ");
    print_command(out, r, true);
    print(out,
          "\n"
          "// Gaussian taps that sum to exactly 2**SHIFT; MASK sums to 2**(2*SHIFT).\n"
          "package {0}_pkg;\n"
          "  localparam int N = {1};\n"
          "  localparam int SHIFT = {2};\n"
          "  localparam int TAPS [N] = '{{",
          {r.options->name, s.n, s.bits});
    print_list(out, t.data, t.size, ", ");
    put(out, "};\n  localparam longint MASK [N][N] = '{\n");
    fixed_taps row{};
    for (std::size_t i = 0; i < t.size; ++i) {
        mask_row(r, i, row);
        put(out, "    '{");
        print_list(out, row.data(), t.size, ", ", "64'sd{0}");
        put(out, i + 1 < t.size ? "},\n" : "}\n");
    }
    put(out, "  };\nendpackage\n");
}

void write_vhdl(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.options->settings;
    const taps_view t = taps_of(r);
    put(out, "-- ");
    print_command(out, r, true);
    print(out,
          "\n"
          "-- Gaussian taps that sum to exactly 2**SHIFT.\n"
          "package {0}_pkg is\n"
          "  constant N : natural := {1};\n"
          "  constant SHIFT : natural := {2};\n"
          "  type taps_array is array (0 to N - 1) of natural;\n"
          "  constant TAPS : taps_array := (",
          {r.options->name, s.n, s.bits});
    // Named association: a one-element aggregate may not be positional.
    for (std::size_t i = 0; i < t.size; ++i) {
        print(out, i > 0 ? ", {0} => {1}" : "{0} => {1}", {static_cast<std::int64_t>(i), t.data[i]});
    }
    print(out, ");\nend package {0}_pkg;\n", {r.options->name});
}

constexpr std::array<format_entry, 5> formats = {{
    {"text", write_text},
    {"json", write_json},
    {"c", write_c},
    {"sv", write_sv},
    {"vhdl", write_vhdl},
}};

}  // namespace

const format_entry* find_format(std::string_view name) noexcept {
    for (const format_entry& f : formats) {
        if (f.name == name) {
            return &f;
        }
    }
    return nullptr;
}

std::string format_names() {
    std::string names;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        names += i == 0 ? "" : (i + 1 < formats.size() ? ", " : " or ");
        names += formats[i].name;
    }
    return names;
}

}  // namespace tapsmith
