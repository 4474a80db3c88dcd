// SPDX-License-Identifier: MIT
#include "formats.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>

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
    return {r.taps.data(), static_cast<std::size_t>(r.settings.n)};
}

// The text output prints the 2-D mask up to this size; beyond it the rows
// are longer than a terminal.
constexpr std::int32_t text_mask_max = 15;

int digits(std::int64_t v) noexcept {
    char text[24];
    return static_cast<int>(std::to_chars(std::begin(text), std::end(text), v).ptr - text);
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
    const fixed_settings& s = r.settings;
    print(out, "tapsmith-fixed --bits={0} --pixel-bits={1} --sampling={2} --format={3}",
          {s.bits, s.pixel_bits, sampling_name(s.how), o.format->name});
    // The cheapest taps at B are also the cheapest of every B up to it.
    if (s.minimize_adders) {
        print(out, " --minimize=adders --max-error={0}", {s.max_error});
    }
    if (named) {
        print(out, " --name={0}", {o.name});
    }
    print(out, " {0} {1}", {s.n, s.sigma});
}

// The adders a pass costs without multipliers, and each distinct tap's
// signed digits, centre first ("104 = 2^7 - 2^5 + 2^3").
void write_adder_plan(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.settings;
    const adder_plan plan = get_adder_plan(s.n, r.taps);
    print(out,
          "adders:     {0} a pass without multipliers ({1} pre-add{4}, {2} for the taps' signed digits, {3} "
          "in the "
          "tree)\n",
          {plan.per_pass, plan.pre_adds, plan.digit_adders, plan.tree_adders, plan.pre_adds == 1 ? "" : "s"});
    if (s.n > text_mask_max) {
        print(out, "            the taps' signed digits: left out above {0} taps; --format=json has them\n",
              {text_mask_max});
        return;
    }
    const taps_view t = taps_of(r);
    for (std::size_t k = t.size / 2 + 1; k-- > 0;) {
        const signed_digits d = get_signed_digits(t.data[k]);
        print(out, "            {0} =", {t.data[k]});
        if (d.count == 0) {
            put(out, " 0");
        }
        for (std::int32_t j = 0; j < d.count; ++j) {
            const signed_digit& g = d.digits[static_cast<std::size_t>(j)];
            const std::string_view sign =
                g.sign < 0 ? (j == 0 ? " -2^" : " - 2^") : (j == 0 ? " 2^" : " + 2^");
            print(out, "{0}{1}", {sign, g.shift});
        }
        put(out, "\n");
    }
}

void write_text(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.settings;
    const fixed_figures& f = r.figures;
    const taps_view t = taps_of(r);
    print(out, "{0} taps, sigma {1}, {2} bits, {3} sampling\n", {s.n, s.sigma, s.bits, sampling_name(s.how)});
    if (s.minimize_adders) {
        print(out,
              "chosen:     the fewest adders a pass of all taps with B from 1 to {0} and a worst-case 2-D "
              "error "
              "below {1} LSB; {2}\n",
              {r.searched_bits, s.max_error,
               r.proven ? "proven cheapest"
                        : "the cheapest found, not proven (the search stopped at its limit)"});
    }
    put(out, "taps:       ");
    print_list(out, t.data, t.size, " ");
    print(out,
          "\nsum:        {0} = 2^{1}, normalise with (x + {2}) >> {1}\n"
          "max error:  {3:.4g} (largest |tap / 2^{1} - normalised sample|)\n"
          "worst-case error for {4}-bit pixels: {5:.2f} LSB (1-D), {6:.2f} LSB (2-D)\n"
          "response:   gain at Nyquist {7:.4g} (float taps {8:.4g}), largest deviation from the float taps "
          "{9:.4g}\n"
          "\n"
          "2-D mask, sum {10} = 2^{11}",
          {f.sum, s.bits, f.sum / 2, f.max_error, s.pixel_bits, f.worst_error_1d, f.worst_error_2d,
           f.nyquist_gain, f.float_nyquist_gain, f.response_max_deviation, f.mask_sum, 2 * s.bits});
    if (s.n > text_mask_max) {
        print(out, ": left out above {0} taps ({1} x {1} entries); --format=json, c or sv has it\n",
              {text_mask_max, s.n});
    } else {
        put(out, ":\n");
        // Columns as wide as the widest entry, the centre's square.
        const int width = std::max(6, digits(t.data[t.size / 2] * t.data[t.size / 2]));
        fixed_taps row{};
        for (std::size_t i = 0; i < t.size; ++i) {
            mask_row(r, i, row);
            cli::put_row(out, row.data(), t.size, width);
        }
    }
    print(out,
          "mask max error: {0:.4g}\n"
          "\n"
          "accumulators for {1}-bit pixels: {2} bits for a 1-D pass, {3} bits for the 2-D mask\n",
          {f.mask_max_error, s.pixel_bits, s.pixel_bits + s.bits, s.pixel_bits + 2 * s.bits});
    write_adder_plan(out, r);
    if (r.image != nullptr) {
        const image_figures& im = *r.image;
        print(out,
              "\nimage:      {0} x {1}, {2} channel{4}, {3}-bit; against the same filter in double "
              "precision:\n",
              {std::int64_t{im.width}, std::int64_t{im.height}, std::int64_t{im.channels}, s.pixel_bits,
               im.channels == 1 ? "" : "s"});
        // Equal to the reference (one tap, a flat image), the PSNR has no finite value.
        if (std::isfinite(im.psnr_db)) {
            print(out, "            PSNR {0:.2f} dB, largest absolute error {1:.4g} LSB\n",
                  {im.psnr_db, im.max_abs_error});
        } else {
            print(out, "            identical to it (PSNR infinite), largest absolute error {0:.4g} LSB\n",
                  {im.max_abs_error});
        }
    }
}

void write_json_value(output& out, const field_value& v) noexcept {
    switch (v.what) {
        case field_value::kind::integer:
            print(out, "{0}", {v.integer});
            return;
        case field_value::kind::real:
            print(out, "{0}", {v.real});
            return;
        case field_value::kind::text:
            print(out, "\"{0}\"", {v.text});
            return;
        case field_value::kind::list:
            put(out, "[");
            print_list(out, v.rows[0].data(), v.rows[0].size(), ", ");
            put(out, "]");
            return;
        case field_value::kind::rows:
            put(out, "[\n");
            for (std::size_t i = 0; i < v.rows.size(); ++i) {
                put(out, "    [");
                print_list(out, v.rows[i].data(), v.rows[i].size(), ", ");
                put(out, i + 1 < v.rows.size() ? "],\n" : "]\n");
            }
            put(out, "  ]");
            return;
    }
}

void write_json(output& out, const fixed_result& r) noexcept {
    const std::span<const figure_field> fields = figure_fields();
    put(out, "{\n");
    for (std::size_t k = 0; k < fields.size(); ++k) {
        print(out, "  \"{0}\": ", {fields[k].name});
        write_json_value(out, fields[k].value(r));
        put(out, k + 1 < fields.size() ? ",\n" : "");
    }
    if (r.settings.minimize_adders) {
        print(out,
              ",\n  \"minimized\": {{\"for\": \"adders\", \"max_error\": {0}, \"max_bits\": {1}, \"proven\": "
              "{2}}}",
              {r.settings.max_error, r.searched_bits, r.proven ? "true" : "false"});
    }
    if (r.image != nullptr) {
        const image_figures& im = *r.image;
        print(out,
              ",\n  \"image\": {{\"width\": {0}, \"height\": {1}, \"channels\": {2}, \"psnr_db\": {3}, "
              "\"max_abs_error\": {4}}}",
              {std::int64_t{im.width}, std::int64_t{im.height}, std::int64_t{im.channels},
               // JSON has no infinity: an image equal to the reference has no PSNR.
               std::isfinite(im.psnr_db) ? arg(im.psnr_db) : arg("null"), im.max_abs_error});
    }
    put(out, "\n}\n");
}

void write_c(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.settings;
    const taps_view t = taps_of(r);
    const adder_plan plan = get_adder_plan(s.n, r.taps);
    put(out, "/* ");
    print_command(out, r, true);
    print(out,
          "\n"
          " * Gaussian taps that sum to exactly 2^{1}: normalise a 1-D pass with (acc + (1 << (SHIFT - 1))) "
          ">> SHIFT,\n"
          " * the 2-D mask with MASK_SHIFT. */\n"
          "#ifndef {0}_TAPS_H\n"
          "#define {0}_TAPS_H\n"
          "\n"
          "#include <stdint.h>\n"
          "\n"
          "#define {0}_N {2}\n"
          "#define {0}_SHIFT {1}\n"
          "#define {0}_MASK_SHIFT {3}\n"
          "/* Adders a pass costs without multipliers: mirrored samples added first, shifts and adds\n"
          " * over each distinct tap's signed digits, a tree over the products. */\n"
          "#define {0}_PRE_ADDS {4}\n"
          "#define {0}_DIGIT_ADDERS {5}\n"
          "#define {0}_TREE_ADDERS {6}\n"
          "#define {0}_ADDERS_PER_PASS {7}\n"
          "\n"
          "static const int32_t {0}_taps[{0}_N] = {{",
          {r.options->name, s.bits, s.n, 2 * s.bits, plan.pre_adds, plan.digit_adders, plan.tree_adders,
           plan.per_pass});
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
    const fixed_settings& s = r.settings;
    const taps_view t = taps_of(r);
    const adder_plan plan = get_adder_plan(s.n, r.taps);
    put(out, "// ");
    print_command(out, r, true);
    print(out,
          "\n"
          "// Gaussian taps that sum to exactly 2**SHIFT; MASK sums to 2**(2*SHIFT).\n"
          "// tapsmith_blur #(.N(N), .SHIFT(SHIFT), .TAPS(TAPS_PACKED), ...) filters with them.\n"
          "package {0}_pkg;\n"
          "  localparam int N = {1};\n"
          "  localparam int SHIFT = {2};\n"
          "  // The adders a pass of the core costs for these taps (tapsmith_blur's own count).\n"
          "  localparam int PRE_ADDS = {3};\n"
          "  localparam int DIGIT_ADDERS = {4};\n"
          "  localparam int TREE_ADDERS = {5};\n"
          "  localparam int ADDERS_PER_PASS = {6};\n"
          "  localparam int TAPS [N] = '{{",
          {r.options->name, s.n, s.bits, plan.pre_adds, plan.digit_adders, plan.tree_adders, plan.per_pass});
    print_list(out, t.data, t.size, ", ");
    // The core takes its taps packed, tap i in bits 32i+31 .. 32i, so the
    // concatenation lists them from the last.
    put(out, "};\n  localparam logic [32*N-1:0] TAPS_PACKED = {");
    for (std::size_t i = t.size; i-- > 0;) {
        print(out, i + 1 < t.size ? ", 32'd{0}" : "32'd{0}", {t.data[i]});
    }
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
    const fixed_settings& s = r.settings;
    const taps_view t = taps_of(r);
    const adder_plan plan = get_adder_plan(s.n, r.taps);
    put(out, "-- ");
    print_command(out, r, true);
    print(out,
          "\n"
          "-- Gaussian taps that sum to exactly 2**SHIFT; tapsmith_blur's generic map\n"
          "-- takes N, SHIFT and TAPS as they are.\n"
          "package {0}_pkg is\n"
          "  constant N : natural := {1};\n"
          "  constant SHIFT : natural := {2};\n"
          "  -- The adders a pass of the core costs for these taps (tapsmith_blur's own count).\n"
          "  constant PRE_ADDS : natural := {3};\n"
          "  constant DIGIT_ADDERS : natural := {4};\n"
          "  constant TREE_ADDERS : natural := {5};\n"
          "  constant ADDERS_PER_PASS : natural := {6};\n"
          "  constant TAPS : integer_vector(0 to N - 1) := (",
          {r.options->name, s.n, s.bits, plan.pre_adds, plan.digit_adders, plan.tree_adders, plan.per_pass});
    // Named association: a one-element aggregate may not be positional.
    for (std::size_t i = 0; i < t.size; ++i) {
        print(out, i > 0 ? ", {0} => {1}" : "{0} => {1}", {static_cast<std::int64_t>(i), t.data[i]});
    }
    print(out, ");\nend package {0}_pkg;\n", {r.options->name});
}

frequency_response response_of(const fixed_result& r) noexcept {
    const fixed_settings& s = r.settings;
    return get_frequency_response(s.n, s.sigma, s.bits, s.how, r.taps, r.gf);
}

void write_response(output& out, const fixed_result& r) noexcept {
    put(out, "f,ideal,float,fixed\n");
    for (const response_point& p : response_of(r)) {
        print(out, "{0},{1},{2},{3}\n", {p.f, p.ideal, p.floating, p.fixed});
    }
}

// ---- SVG: the taps over the ideal samples, and the three responses in dB ----

// A panel's frame on the page and the data range it shows.
struct panel {
    double left, top, width, height;
    double x0, x1, y0, y1;
    [[nodiscard]] double x(double v) const noexcept { return left + (v - x0) / (x1 - x0) * width; }
    [[nodiscard]] double y(double v) const noexcept {
        return top + (y1 - std::clamp(v, y0, y1)) / (y1 - y0) * height;
    }
};

constexpr double floor_db = -120.0;

double decibels(double h) noexcept {
    return std::max(floor_db, 20.0 * std::log10(std::max(std::fabs(h), 1e-300)));
}

// x ticks from x_first in steps of x_step; y_ticks + 1 ticks over the range.
void svg_axes(output& out, const panel& p, std::string_view x_label, std::string_view y_label, double x_first,
              double x_step, int y_ticks) noexcept {
    print(out,
          "<rect x=\"{0:.4g}\" y=\"{1:.4g}\" width=\"{2:.4g}\" height=\"{3:.4g}\" fill=\"none\" "
          "stroke=\"#444\"/>\n",
          {p.left, p.top, p.width, p.height});
    for (int k = 0; x_first + k * x_step <= p.x1 + 1e-9; ++k) {
        const double v = x_first + k * x_step;
        print(out,
              "<line x1=\"{0:.4g}\" y1=\"{1:.4g}\" x2=\"{0:.4g}\" y2=\"{2:.4g}\" stroke=\"#ddd\"/>"
              "<text x=\"{0:.4g}\" y=\"{3:.4g}\" text-anchor=\"middle\">{4:.3g}</text>\n",
              {p.x(v), p.top, p.top + p.height, p.top + p.height + 16, v});
    }
    for (int k = 0; k <= y_ticks; ++k) {
        const double v = p.y0 + (p.y1 - p.y0) * k / y_ticks;
        print(out,
              "<line x1=\"{0:.4g}\" y1=\"{1:.4g}\" x2=\"{2:.4g}\" y2=\"{1:.4g}\" stroke=\"#ddd\"/>"
              "<text x=\"{3:.4g}\" y=\"{4:.4g}\" text-anchor=\"end\">{5:.3g}</text>\n",
              {p.left, p.y(v), p.left + p.width, p.left - 6, p.y(v) + 4, v});
    }
    print(out,
          "<text x=\"{0:.4g}\" y=\"{1:.4g}\" text-anchor=\"middle\">{2}</text>\n"
          "<text transform=\"translate({3:.4g} {4:.4g}) rotate(-90)\" text-anchor=\"middle\">{5}</text>\n",
          {p.left + p.width / 2, p.top + p.height + 36, x_label, p.left - 48, p.top + p.height / 2, y_label});
}

void svg_polyline(output& out, const panel& p, const response_point* points, double response_point::*field,
                  std::string_view colour, std::string_view dash) noexcept {
    print(out, R"(<polyline fill="none" stroke="{0}" stroke-width="1.5" stroke-dasharray="{1}" points=")",
          {colour, dash});
    for (std::int32_t k = 0; k < RESPONSE_POINTS; ++k) {
        const response_point& q = points[k];
        print(out, k > 0 ? " {0:.5g},{1:.5g}" : "{0:.5g},{1:.5g}", {p.x(q.f), p.y(decibels(q.*field))});
    }
    put(out, "\"/>\n");
}

void write_svg(output& out, const fixed_result& r) noexcept {
    const fixed_settings& s = r.settings;
    const taps_view t = taps_of(r);
    const double unit = std::ldexp(1.0, -s.bits);
    const std::int32_t half = s.n / 2;
    const auto m = static_cast<double>(half);
    const std::size_t centre = t.size / 2;
    const double peak = std::max(static_cast<double>(t.data[centre]) * unit, r.gf[centre]) * 1.1;
    print(
        out,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"760\" viewBox=\"0 0 800 760\" "
        "font-family=\"sans-serif\" font-size=\"12\">\n"
        "<rect width=\"800\" height=\"760\" fill=\"white\"/>\n"
        "<text x=\"400\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">{0} taps, sigma {1}, {2} bits, {3} "
        "sampling</text>\n",
        {s.n, s.sigma, s.bits, sampling_name(s.how)});
    const panel taps{90, 60, 680, 260, -m - 0.5, m + 0.5, 0.0, peak};
    svg_axes(out, taps, "tap offset from the centre", "weight", -m, std::ceil((2 * m + 1) / 16.0), 4);
    for (std::size_t i = 0; i < t.size; ++i) {
        const double d = static_cast<double>(i) - m;
        print(out,
              "<line x1=\"{0:.4g}\" y1=\"{1:.4g}\" x2=\"{0:.4g}\" y2=\"{2:.4g}\" stroke=\"#1f77b4\" "
              "stroke-width=\"2\"/>"
              "<circle cx=\"{0:.4g}\" cy=\"{2:.4g}\" r=\"3\" fill=\"#1f77b4\"/>"
              "<circle cx=\"{0:.4g}\" cy=\"{3:.4g}\" r=\"4.5\" fill=\"none\" stroke=\"#d62728\"/>\n",
              {taps.x(d), taps.y(0.0), taps.y(static_cast<double>(t.data[i]) * unit), taps.y(r.gf[i])});
    }
    print(out,
          "<g transform=\"translate(600 78)\"><rect width=\"160\" height=\"44\" fill=\"white\" "
          "stroke=\"#aaa\"/>"
          "<line x1=\"10\" y1=\"14\" x2=\"30\" y2=\"14\" stroke=\"#1f77b4\" stroke-width=\"2\"/>"
          "<text x=\"36\" y=\"18\">taps / 2^{0}</text>"
          "<circle cx=\"20\" cy=\"32\" r=\"4.5\" fill=\"none\" stroke=\"#d62728\"/>"
          "<text x=\"36\" y=\"36\">ideal samples</text></g>\n",
          {s.bits});
    const frequency_response response = response_of(r);
    const panel db{90, 400, 680, 280, 0.0, 0.5, floor_db, 10.0};
    svg_axes(out, db, "frequency (cycles per pixel)", "magnitude (dB)", 0.0, 0.05, 13);
    svg_polyline(out, db, response.data(), &response_point::ideal, "#2ca02c", "6 3");
    svg_polyline(out, db, response.data(), &response_point::floating, "#d62728", "none");
    svg_polyline(out, db, response.data(), &response_point::fixed, "#1f77b4", "none");
    put(out,
        "<g transform=\"translate(600 418)\"><rect width=\"160\" height=\"62\" fill=\"white\" "
        "stroke=\"#aaa\"/>"
        "<line x1=\"10\" y1=\"14\" x2=\"30\" y2=\"14\" stroke=\"#2ca02c\" stroke-width=\"1.5\" "
        "stroke-dasharray=\"6 3\"/>"
        "<text x=\"36\" y=\"18\">ideal Gaussian</text>"
        "<line x1=\"10\" y1=\"32\" x2=\"30\" y2=\"32\" stroke=\"#d62728\" stroke-width=\"1.5\"/>"
        "<text x=\"36\" y=\"36\">float taps</text>"
        "<line x1=\"10\" y1=\"50\" x2=\"30\" y2=\"50\" stroke=\"#1f77b4\" stroke-width=\"1.5\"/>"
        "<text x=\"36\" y=\"54\">integer taps</text></g>\n"
        "</svg>\n");
}

constexpr std::array<format_entry, 7> formats = {{
    {"text", write_text},
    {"json", write_json},
    {"c", write_c},
    {"sv", write_sv},
    {"vhdl", write_vhdl},
    {"response", write_response},
    {"svg", write_svg},
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
