// SPDX-License-Identifier: MIT
#include "options.hpp"

#include "formats.hpp"

#include "tapsmith/cli/numbers.hpp"

#include <getopt.h>
#include <cmath>
#include <cstring>
#include <limits>

namespace tapsmith {

const std::string_view usage_text =
    "Usage: tapsmith-fixed [OPTION]... DIM_MASK SIGMA\n"
    "Integer Gaussian filter taps that sum to exactly 2^B, so that a right shift\n"
    "by B normalises them, with their error, the 2-D mask and the accumulator\n"
    "widths. DIM_MASK is the tap count, an odd number from 1 to 127, or auto for\n"
    "the smallest that leaves out at most half an output LSB of the Gaussian;\n"
    "SIGMA is the standard deviation, a finite number above 0.\n"
    "\n"
    "  -b, --bits=B         the taps sum to 2^B; B from 1 to 30, or auto for the\n"
    "                       smallest with a 2-D error below 1 LSB (default 8)\n"
    "  -p, --pixel-bits=P   pixel width for the errors and accumulators; 1 to 32 (default 8)\n"
    "      --minimize=adders  instead of the closest taps at B, the taps whose passes\n"
    "                       cost the fewest adders as shifts and adds, of every B up\n"
    "                       to --bits (default 30), with a 2-D error below --max-error\n"
    "      --max-error=E    with --minimize: the 2-D error to stay below, in LSB (default 1)\n"
    "  -s, --sampling=HOW   point (default): the Gaussian at each tap; area: its mass\n"
    "                       over each tap's pixel\n"
    "  -f, --format=FMT     text (default), json, c, sv, vhdl, response (CSV) or svg\n"
    "  -n, --name=NAME      identifier prefix for c, sv and vhdl (default gauss)\n"
    "  -a, --apply=IN.png   filter a PNG image with the taps (needs --output)\n"
    "  -o, --output=OUT.png where the filtered image goes\n"
    "  -e, --border=EDGE    reflect101 (default), replicate or zero\n"
    "      --vectors=PREFIX also write PREFIX_in.hex and PREFIX_out.hex for testbenches\n"
    "      --ppc=K          with --vectors: a line a beat of K pixels (1, 2, 4 or 8), all\n"
    "                       channels, as the filter cores take them\n"
    "      --png-compression=L  0 (none) to 9 (smallest file) for OUT.png; the default\n"
    "                       1 is fast; the pixels are the same\n"
    "      --threads=N      filter and check the image on N threads (default: one per\n"
    "                       core); the output and the figures are the same for every N\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n";

namespace {

parsed_command usage_error(std::string message) {
    parsed_command c;
    c.what = parsed_command::action::usage_error;
    c.message = std::move(message);
    return c;
}

// [A-Za-z][A-Za-z0-9_]*, at most 32 characters. VHDL also forbids two
// underscores in a row and one at the end of an identifier.
bool valid_name(std::string_view name, bool vhdl) noexcept {
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
    return !vhdl || (name.find("__") == std::string_view::npos && name.back() != '_');
}

// More threads than an image has rows (65535 at most) would have nothing to do.
constexpr std::int64_t threads_max = 65535;

// A value the settings check refuses, for text that is no number at all.
constexpr std::int32_t unreadable = -1;

std::int32_t read_count(std::string_view text) noexcept {
    const auto v = cli::read_integer(text, 0, std::numeric_limits<std::int32_t>::max());
    return v ? static_cast<std::int32_t>(*v) : unreadable;
}

}  // namespace

parsed_command parse_command(int argc, char** argv) {
    static const option long_options[] = {
        {"bits", required_argument, nullptr, 'b'},
        {"pixel-bits", required_argument, nullptr, 'p'},
        {"sampling", required_argument, nullptr, 's'},
        {"format", required_argument, nullptr, 'f'},
        {"name", required_argument, nullptr, 'n'},
        {"apply", required_argument, nullptr, 'a'},
        {"output", required_argument, nullptr, 'o'},
        {"border", required_argument, nullptr, 'e'},
        {"vectors", required_argument, nullptr, 'v'},
        {"minimize", required_argument, nullptr, 'M'},
        {"max-error", required_argument, nullptr, 'E'},
        {"png-compression", required_argument, nullptr, 'Z'},
        {"threads", required_argument, nullptr, 'T'},
        {"ppc", required_argument, nullptr, 'K'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    parsed_command command;
    fixed_options& o = command.options;
    fixed_settings& s = o.settings;
    o.format = find_format("text");
    opterr = 0;
    optind = 0;  // glibc: start afresh, so that the tests can parse again
    bool name_given = false;
    bool max_error_given = false;
    bool png_compression_given = false;
    bool threads_given = false;
    for (int c = 0; (c = getopt_long(argc, argv, ":b:p:s:f:n:a:o:e:hV", long_options, nullptr)) != -1;) {
        const std::string_view value = optarg != nullptr ? optarg : "";
        switch (c) {
            case 'b':
                o.bits_given = true;
                s.bits_auto = value == "auto";
                s.bits =
                    s.bits_auto
                        ? 0
                        : static_cast<std::int32_t>(cli::read_integer(value, 1, FIXED_BITS_MAX).value_or(0));
                if (!s.bits_auto && s.bits == 0) {
                    return usage_error(quoted(bad_bits, value));
                }
                break;
            case 'p':
                s.pixel_bits =
                    static_cast<std::int32_t>(cli::read_integer(value, 1, PIXEL_BITS_MAX).value_or(0));
                if (s.pixel_bits == 0) {
                    return usage_error(quoted(bad_pixel_bits, value));
                }
                break;
            case 's':
                if (value != "point" && value != "area") {
                    return usage_error(quoted(bad_sampling, value));
                }
                s.how = value == "area" ? sampling::area : sampling::point;
                break;
            case 'f':
                o.format = find_format(value);
                if (o.format == nullptr) {
                    return usage_error(quoted("invalid format (" + format_names() + "):", value));
                }
                break;
            case 'n':
                o.name = value;
                name_given = true;
                break;
            case 'a':
                o.apply = optarg;
                break;
            case 'o':
                o.output = optarg;
                break;
            case 'e':
                if (!find_border(value, o.edge)) {
                    return usage_error(quoted(bad_border, value));
                }
                break;
            case 'v':
                o.vectors = optarg;
                break;
            case 'Z': {
                const auto level = cli::read_integer(value, 0, 9);
                if (!level) {
                    return usage_error(quoted("invalid PNG compression (0 to 9):", value));
                }
                o.png_compression = static_cast<int>(*level);
                png_compression_given = true;
                break;
            }
            case 'T': {
                const auto count = cli::read_integer(value, 1, threads_max);
                if (!count) {
                    return usage_error(quoted("invalid thread count (1 to 65535):", value));
                }
                o.threads = static_cast<int>(*count);
                threads_given = true;
                break;
            }
            case 'K': {
                const auto count = cli::read_integer(value, 1, 8);
                if (!count || (*count & (*count - 1)) != 0) {
                    return usage_error(quoted("invalid pixels per beat (1, 2, 4 or 8):", value));
                }
                o.ppc = static_cast<int>(*count);
                break;
            }
            case 'M':
                if (value != "adders") {
                    return usage_error(quoted(bad_minimize, value));
                }
                s.minimize_adders = true;
                break;
            case 'E':
                s.max_error = cli::read_real(value).value_or(0.0);
                if (!(s.max_error > 0.5) || !std::isfinite(s.max_error)) {
                    return usage_error(quoted(bad_max_error, value));
                }
                max_error_given = true;
                break;
            case 'h':
                command.what = parsed_command::action::help;
                return command;
            case 'V':
                command.what = parsed_command::action::version;
                return command;
            default: {
                // A long option is shown as typed, a short one as its letter.
                const char* word = argv[optind - 1];
                const char letter[] = {'-', static_cast<char>(optopt), '\0'};
                const char* shown = std::strncmp(word, "--", 2) == 0 || optopt == 0 ? word : letter;
                return usage_error(
                    quoted(c == ':' ? "option requires an argument:" : "unrecognized option:", shown));
            }
        }
    }
    const bool vhdl = o.format->name == "vhdl";
    if (name_given && !valid_name(o.name, vhdl)) {
        return usage_error(
            quoted(vhdl ? "invalid name ([A-Za-z][A-Za-z0-9_]*, at most 32, no __ or trailing _ in VHDL):"
                        : "invalid name ([A-Za-z][A-Za-z0-9_]*, at most 32 characters):",
                   o.name));
    }
    const int operands = argc - optind;
    if (operands < 2) {
        return usage_error(operands == 0 ? "missing DIM_MASK and SIGMA" : "missing SIGMA");
    }
    if (operands > 2) {
        return usage_error(quoted("extra operand:", argv[optind + 2]));
    }
    const std::string_view n_text = argv[optind];
    const std::string_view sigma_text = argv[optind + 1];
    s.n_auto = n_text == "auto";
    s.n = s.n_auto ? 0 : read_count(n_text);
    s.sigma = cli::read_real(sigma_text).value_or(std::numeric_limits<double>::quiet_NaN());
    if (png_compression_given && o.apply == nullptr) {
        return usage_error("--png-compression needs --apply");
    }
    if (threads_given && o.apply == nullptr) {
        return usage_error("--threads needs --apply");
    }
    if (o.ppc != 0 && o.vectors == nullptr) {
        return usage_error("--ppc needs --vectors");
    }
    if (max_error_given && !s.minimize_adders) {
        return usage_error("--max-error needs --minimize=adders");
    }
    if (s.minimize_adders && !o.bits_given) {
        s.bits = FIXED_BITS_MAX;  // search every B
    }
    if (o.apply == nullptr && (o.output != nullptr || o.vectors != nullptr)) {
        return usage_error(o.output != nullptr ? "--output needs --apply" : "--vectors needs --apply");
    }
    if (o.apply != nullptr && o.output == nullptr) {
        return usage_error("--apply needs --output");
    }
    o.shown = {n_text, sigma_text};
    // With an image, the pixel width is the file's, known once it is read:
    // the automatic sizes wait for it, everything else is checked now.
    fixed_settings now = s;
    if (o.apply != nullptr) {
        now.n = now.n_auto ? 1 : now.n;
        now.bits = now.bits_auto ? 8 : now.bits;
        now.n_auto = false;
        now.bits_auto = false;
    }
    std::string problem = check_settings(now, o.shown);
    if (o.apply == nullptr) {
        s = now;
    }
    if (!problem.empty()) {
        return usage_error(std::move(problem));
    }
    return command;
}

}  // namespace tapsmith
