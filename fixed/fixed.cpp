// SPDX-License-Identifier: MIT
#include "fixed.hpp"

#include "output.hpp"

#include <getopt.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#ifndef TAPSMITH_VERSION
#define TAPSMITH_VERSION "unknown"
#endif

namespace tapsmith {

namespace {

enum class format { text, json, c, sv, vhdl };

constexpr std::string_view format_names[] = {"text", "json", "c", "sv", "vhdl"};

struct fixed_args {
    std::int32_t n = 0;
    double sigma = 0.0;
    std::int32_t bits = 8;
    std::int32_t pixel_bits = 8;
    format fmt = format::text;
    std::string_view name = "gauss";
};

constexpr std::string_view usage =
    "Usage: tapsmith-fixed [OPTION]... DIM_MASK SIGMA\n"
    "Integer Gaussian filter taps that sum to exactly 2^B, so that a right shift\n"
    "by B normalises them, with their error, the 2-D mask and the accumulator\n"
    "widths. DIM_MASK is the tap count, an odd number from 1 to 9; SIGMA is the\n"
    "standard deviation, a finite number above 0.\n"
    "\n"
    "  -b, --bits=B         the taps sum to 2^B; B from 1 to 30 (default 8)\n"
    "  -p, --pixel-bits=P   pixel width for the accumulator widths; 1 to 32 (default 8)\n"
    "  -f, --format=FMT     text (default), json, c, sv or vhdl\n"
    "  -n, --name=NAME      identifier prefix for c, sv and vhdl (default gauss)\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n";

// Says what is wrong, and with which text, the way coreutils does.
int usage_error(std::string_view what, std::string_view text = {}) noexcept {
    output err;
    err.fd = 2;
    put(err, "tapsmith-fixed: ");
    put(err, what);
    if (!text.empty() || what.back() == ':') {
        put(err, " '");
        put(err, text);
        put(err, "'");
    }
    put(err, "\nTry 'tapsmith-fixed --help' for more information.\n");
    (void)flush(err);
    return 2;
}

// strtol and strtod skip leading blanks; a number read whole must not
// start with one.
bool starts_a_number(const char* text) noexcept {
    return *text != '\0' && std::strchr(" \t\n\v\f\r", *text) == nullptr;
}

// A whole argument, no leading blank, inside [low, high].
bool read_int(const char* text, long low, long high, std::int32_t& value) noexcept {
    if (!starts_a_number(text)) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    value = static_cast<std::int32_t>(v);
    return true;
}

bool read_sigma(const char* text, double& value) noexcept {
    if (!starts_a_number(text)) {
        return false;
    }
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(v) || !(v > 0.0)) {
        return false;
    }
    value = v;
    return true;
}

// [A-Za-z][A-Za-z0-9_]*, at most 32 characters. VHDL also forbids two
// underscores in a row and one at the end of an identifier.
bool valid_name(std::string_view name, format fmt) noexcept {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.empty() || name.size() > 32 || !letter(name[0])) {
        return false;
    }
    for (std::size_t i = 1; i < name.size(); ++i) {
        if (!letter(name[i]) && !digit(name[i]) && name[i] != '_') {
            return false;
        }
    }
    return fmt != format::vhdl || (name.find("__") == std::string_view::npos && name.back() != '_');
}

// Returns 0 when the arguments are good, else the exit status of the
// usage error already reported, or -1 for --help and --version, done.
int parse(int argc, char** argv, fixed_args& args, output& out) noexcept {
    static const option long_options[] = {{"bits", required_argument, nullptr, 'b'},
                                          {"pixel-bits", required_argument, nullptr, 'p'},
                                          {"format", required_argument, nullptr, 'f'},
                                          {"name", required_argument, nullptr, 'n'},
                                          {"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {nullptr, 0, nullptr, 0}};
    opterr = 0;
    optind = 0;  // glibc: start afresh, so that the tests can call this again
    bool name_given = false;
    for (int c = 0; (c = getopt_long(argc, argv, ":b:p:f:n:hV", long_options, nullptr)) != -1;) {
        switch (c) {
            case 'b':
                if (!read_int(optarg, 1, 30, args.bits)) {
                    return usage_error("invalid bits (1 to 30):", optarg);
                }
                break;
            case 'p':
                if (!read_int(optarg, 1, 32, args.pixel_bits)) {
                    return usage_error("invalid pixel bits (1 to 32):", optarg);
                }
                break;
            case 'f': {
                bool known = false;
                for (std::size_t k = 0; k < std::size(format_names); ++k) {
                    if (format_names[k] == optarg) {
                        args.fmt = static_cast<format>(k);
                        known = true;
                    }
                }
                if (!known) {
                    return usage_error("invalid format (text, json, c, sv or vhdl):", optarg);
                }
                break;
            }
            case 'n':
                args.name = optarg;
                name_given = true;
                break;
            case 'h':
                put(out, usage);
                return -1;
            case 'V':
                put(out, "tapsmith-fixed " TAPSMITH_VERSION "\n");
                return -1;
            default: {
                // A long option is shown as typed, a short one as its letter.
                const char* word = argv[optind - 1];
                const char letter[] = {'-', static_cast<char>(optopt), '\0'};
                const char* shown = std::strncmp(word, "--", 2) == 0 || optopt == 0 ? word : letter;
                return usage_error(c == ':' ? "option requires an argument:" : "unrecognized option:", shown);
            }
        }
    }
    if (name_given && !valid_name(args.name, args.fmt)) {
        return usage_error(
            args.fmt == format::vhdl
                ? "invalid name ([A-Za-z][A-Za-z0-9_]*, at most 32, no __ or trailing _ in VHDL):"
                : "invalid name ([A-Za-z][A-Za-z0-9_]*, at most 32 characters):",
            args.name);
    }
    const int operands = argc - optind;
    if (operands < 2) {
        return usage_error(operands == 0 ? "missing DIM_MASK and SIGMA" : "missing SIGMA");
    }
    if (operands > 2) {
        return usage_error("extra operand:", argv[optind + 2]);
    }
    if (!read_int(argv[optind], 1, DIM_MAX, args.n) || args.n % 2 == 0) {
        return usage_error("invalid DIM_MASK (an odd number from 1 to 9):", argv[optind]);
    }
    if (!read_sigma(argv[optind + 1], args.sigma)) {
        return usage_error("invalid SIGMA (a finite number above 0):", argv[optind + 1]);
    }
    return 0;
}

// ---- Formats -----------------------------------------------------------------

// How a list of integers is written: around the whole list, between its
// entries, and around each entry.
struct list_style {
    std::string_view open;
    std::string_view separator;
    std::string_view close;
    std::string_view entry_open{};
    std::string_view entry_close{};
};

void put_list(output& out, const std::int64_t* values, std::size_t count, const list_style& style) noexcept {
    put(out, style.open);
    for (std::size_t i = 0; i < count; ++i) {
        put(out, i > 0 ? style.separator : "");
        put(out, style.entry_open);
        put_int(out, values[i]);
        put(out, style.entry_close);
    }
    put(out, style.close);
}

// The command that gives this output, rebuilt from the values read, so
// that a comment never carries text from the command line verbatim.
void put_command(output& out, const fixed_args& a) noexcept {
    put(out, "tapsmith-fixed --bits=");
    put_int(out, a.bits);
    put(out, " --pixel-bits=");
    put_int(out, a.pixel_bits);
    put(out, " --format=");
    put(out, format_names[static_cast<std::size_t>(a.fmt)]);
    if (a.fmt == format::c || a.fmt == format::sv || a.fmt == format::vhdl) {
        put(out, " --name=");
        put(out, a.name);
    }
    put(out, " ");
    put_int(out, a.n);
    put(out, " ");
    put_shortest(out, a.sigma);
}

void put_text(output& out, const fixed_args& a, const fixed_figures& f) noexcept {
    const auto taps = static_cast<std::size_t>(a.n);
    put_int(out, a.n);
    put(out, " taps, sigma ");
    put_shortest(out, a.sigma);
    put(out, ", ");
    put_int(out, a.bits);
    put(out, " bits\n");
    put_list(out, f.taps.data(), taps, {"taps:       ", " ", "\n"});
    put(out, "sum:        ");
    put_int(out, f.sum);
    put(out, " = 2^");
    put_int(out, a.bits);
    put(out, ", normalise with (x + ");
    put_int(out, f.sum / 2);
    put(out, ") >> ");
    put_int(out, a.bits);
    put(out, "\nmax error:  ");
    put_general(out, f.max_error, 4);
    put(out, " (largest |tap / 2^");
    put_int(out, a.bits);
    put(out, " - normalised sample|)\n\n2-D mask, sum ");
    put_int(out, f.mask_sum);
    put(out, " = 2^");
    put_int(out, std::int64_t{2} * a.bits);
    put(out, ":\n");
    for (std::size_t i = 0; i < taps; ++i) {
        put_row(out, f.mask[i].data(), taps, 6);
    }
    put(out, "mask max error: ");
    put_general(out, f.mask_max_error, 4);
    put(out, "\n\naccumulators for ");
    put_int(out, a.pixel_bits);
    put(out, "-bit pixels: ");
    put_int(out, a.pixel_bits + a.bits);
    put(out, " bits for a 1-D pass, ");
    put_int(out, a.pixel_bits + std::int64_t{2} * a.bits);
    put(out, " bits for the 2-D mask\n");
}

void put_json(output& out, const fixed_args& a, const fixed_figures& f) noexcept {
    const auto taps = static_cast<std::size_t>(a.n);
    const auto field = [&out](std::string_view key, std::int64_t value) {
        put(out, "  \"");
        put(out, key);
        put(out, "\": ");
        put_int(out, value);
        put(out, ",\n");
    };
    put(out, "{\n");
    field("dim_mask", a.n);
    put(out, "  \"sigma\": ");
    put_shortest(out, a.sigma);
    put(out, ",\n");
    field("bits", a.bits);
    field("pixel_bits", a.pixel_bits);
    put_list(out, f.taps.data(), taps, {"  \"taps\": [", ", ", "],\n"});
    field("sum", f.sum);
    field("shift", a.bits);
    put(out, "  \"max_error\": ");
    put_shortest(out, f.max_error);
    put(out, ",\n  \"mask\": [\n");
    for (std::size_t i = 0; i < taps; ++i) {
        put_list(out, f.mask[i].data(), taps, {"    [", ", ", i + 1 < taps ? "],\n" : "]\n"});
    }
    put(out, "  ],\n");
    field("mask_sum", f.mask_sum);
    put(out, "  \"mask_max_error\": ");
    put_shortest(out, f.mask_max_error);
    put(out, ",\n");
    field("accumulator_bits_1d", a.pixel_bits + a.bits);
    put(out, "  \"accumulator_bits_2d\": ");
    put_int(out, a.pixel_bits + std::int64_t{2} * a.bits);
    put(out, "\n}\n");
}

void put_c(output& out, const fixed_args& a, const fixed_figures& f) noexcept {
    const auto taps = static_cast<std::size_t>(a.n);
    const std::string_view name = a.name;
    put(out, "/* ");
    put_command(out, a);
    put(out, "\n * Gaussian taps that sum to exactly 2^");
    put_int(out, a.bits);
    put(out,
        ": normalise a 1-D pass with (acc + (1 << (SHIFT - 1))) >> SHIFT,\n"
        " * the 2-D mask with MASK_SHIFT. */\n#ifndef ");
    put(out, name);
    put(out, "_TAPS_H\n#define ");
    put(out, name);
    put(out, "_TAPS_H\n\n#include <stdint.h>\n\n#define ");
    put(out, name);
    put(out, "_N ");
    put_int(out, a.n);
    put(out, "\n#define ");
    put(out, name);
    put(out, "_SHIFT ");
    put_int(out, a.bits);
    put(out, "\n#define ");
    put(out, name);
    put(out, "_MASK_SHIFT ");
    put_int(out, std::int64_t{2} * a.bits);
    put(out, "\n\nstatic const int32_t ");
    put(out, name);
    put(out, "_taps[");
    put(out, name);
    put(out, "_N] = ");
    put_list(out, f.taps.data(), taps, {"{", ", ", "};\n\nstatic const int64_t "});
    put(out, name);
    put(out, "_mask[");
    put(out, name);
    put(out, "_N][");
    put(out, name);
    put(out, "_N] = {\n");
    for (std::size_t i = 0; i < taps; ++i) {
        put_list(out, f.mask[i].data(), taps, {"    {", ", ", "},\n", "INT64_C(", ")"});
    }
    put(out, "};\n\n#endif\n");
}

void put_sv(output& out, const fixed_args& a, const fixed_figures& f) noexcept {
    const auto taps = static_cast<std::size_t>(a.n);
    put(out, "// ");
    put_command(out, a);
    put(out, "\n// Gaussian taps that sum to exactly 2**SHIFT; MASK sums to 2**(2*SHIFT).\npackage ");
    put(out, a.name);
    put(out, "_pkg;\n  localparam int N = ");
    put_int(out, a.n);
    put(out, ";\n  localparam int SHIFT = ");
    put_int(out, a.bits);
    put(out, ";\n");
    put_list(out, f.taps.data(), taps, {"  localparam int TAPS [N] = '{", ", ", "};\n"});
    put(out, "  localparam longint MASK [N][N] = '{\n");
    for (std::size_t i = 0; i < taps; ++i) {
        put_list(out, f.mask[i].data(), taps, {"    '{", ", ", i + 1 < taps ? "},\n" : "}\n", "64'sd"});
    }
    put(out, "  };\nendpackage\n");
}

void put_vhdl(output& out, const fixed_args& a, const fixed_figures& f) noexcept {
    put(out, "-- ");
    put_command(out, a);
    put(out, "\n-- Gaussian taps that sum to exactly 2**SHIFT.\npackage ");
    put(out, a.name);
    put(out, "_pkg is\n  constant N : natural := ");
    put_int(out, a.n);
    put(out, ";\n  constant SHIFT : natural := ");
    put_int(out, a.bits);
    put(out, ";\n  type taps_array is array (0 to N - 1) of natural;\n  constant TAPS : taps_array := (");
    // Named association: a one-element aggregate may not be positional.
    for (std::int32_t i = 0; i < a.n; ++i) {
        put(out, i > 0 ? ", " : "");
        put_int(out, i);
        put(out, " => ");
        put_int(out, f.taps[static_cast<std::size_t>(i)]);
    }
    put(out, ");\nend package ");
    put(out, a.name);
    put(out, "_pkg;\n");
}

}  // namespace

int run_fixed(int argc, char** argv) noexcept {
    output out;
    fixed_args args;
    const int parsed = parse(argc, argv, args, out);
    if (parsed > 0) {
        return parsed;
    }
    if (parsed == 0) {
        fixed_figures figures{};
        if (!work_out_figures(args.n, args.sigma, args.bits, figures)) {
            // 2 sigma^2 underflows to 0: the samples are not numbers.
            return usage_error("SIGMA too small for a filter:", argv[argc - 1]);
        }
        switch (args.fmt) {
            case format::text:
                put_text(out, args, figures);
                break;
            case format::json:
                put_json(out, args, figures);
                break;
            case format::c:
                put_c(out, args, figures);
                break;
            case format::sv:
                put_sv(out, args, figures);
                break;
            case format::vhdl:
                put_vhdl(out, args, figures);
                break;
        }
    }
    return finish(out, "tapsmith-fixed");
}

}  // namespace tapsmith
