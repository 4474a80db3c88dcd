// SPDX-License-Identifier: MIT
#include "run.hpp"

#ifdef TAPSMITH_HAVE_PNG
#include "apply.hpp"
#endif
#include "formats.hpp"
#include "options.hpp"

#include "tapsmith/cli/output.hpp"
#include "tapsmith/cli/status.hpp"

#include <algorithm>

#ifndef TAPSMITH_VERSION
#define TAPSMITH_VERSION "unknown"
#endif

namespace tapsmith {

namespace {

constexpr std::string_view program = "tapsmith-fixed";

#ifdef TAPSMITH_HAVE_PNG
// The default bits suit 8-bit pixels only roughly, and deeper images not at
// all (several LSB on 16 bits): an image filtered without a choice of bits
// says so when the worst case reaches a whole LSB, with the cure.
void warn_about_default_bits(const fixed_result& r) noexcept {
    const fixed_settings& s = r.settings;
    if (r.figures.worst_error_2d < 1.0) {
        return;
    }
    std::int32_t enough = 0;
    const bool cured = auto_bits(s.n, s.sigma, s.pixel_bits, s.how, enough) == status::ok;
    cli::output err(2);
    cli::print(err,
               "{0}: warning: with the default {1} bits the output can be off by up to {2:.2f} LSB on "
               "{3}-bit pixels",
               {program, s.bits, r.figures.worst_error_2d, s.pixel_bits});
    if (cured) {
        cli::print(err, "; --bits=auto ({0} bits) keeps it below 1 LSB\n", {enough});
    } else {
        cli::put(err, "; no bits from 1 to 30 keep it below 1 LSB\n");
    }
}
#endif

int usage_error(std::string_view message) noexcept {
    cli::output err(2);
    cli::print(err, "{0}: {1}\nTry '{0} --help' for more information.\n", {program, message});
    return cli::exit_usage;
}

}  // namespace

int run_fixed(int argc, char** argv) noexcept {
    const parsed_command command = parse_command(argc, argv);
    cli::output out;
    switch (command.what) {
        case parsed_command::action::usage_error:
            return usage_error(command.message);
        case parsed_command::action::help:
            put(out, usage_text);
            return cli::finish(out, program);
        case parsed_command::action::version:
            cli::print(out, "{0} {1}\n", {program, TAPSMITH_VERSION});
            return cli::finish(out, program);
        case parsed_command::action::run:
            break;
    }
    fixed_options o = command.options;
#ifdef TAPSMITH_HAVE_PNG
    image in;
    png_reader reader;
    cli::staged_files files;
    if (o.apply != nullptr) {
        // Every file the run writes is checked and created first: a run that
        // cannot keep its results stops before any work.
        if (std::string problem = stage_outputs(o, files); !problem.empty()) {
            return cli::fail(program, problem);
        }
        // The pixels are read while they are filtered: here only up to them.
        const std::string problem = reader.open(o.apply, in);
        if (!problem.empty()) {
            return cli::fail(program, problem);
        }
        o.settings.pixel_bits = static_cast<std::int32_t>(in.bit_depth);
        if (o.settings.minimize_adders && !o.bits_given) {
            // Search only the B whose sums fit the golden model's 64 bits.
            o.settings.bits = std::min(FIXED_BITS_MAX, (64 - o.settings.pixel_bits) / 2);
        }
        std::string usage = check_settings(o.settings, o.shown);
        if (usage.empty() && o.settings.pixel_bits + 2 * o.settings.bits > 64) {
            usage =
                quoted("the image's pixel bits plus twice the bits exceed 64:",
                       std::to_string(o.settings.pixel_bits) + " + 2 * " + std::to_string(o.settings.bits));
        }
        if (usage.empty() && o.ppc > 1 && in.width % static_cast<std::uint32_t>(o.ppc) != 0) {
            usage = quoted("the image's width is not a multiple of --ppc:",
                           std::to_string(in.width) + " and " + std::to_string(o.ppc));
        }
        if (!usage.empty()) {
            return usage_error(usage);
        }
    }
#else
    if (o.apply != nullptr) {
        return cli::fail(program, "this build reads no images (built without libpng)");
    }
#endif
    const fixed_settings& s = o.settings;
    fixed_result result;
    result.options = &o;
    // The settings were checked: only memory for a long flat filter's search
    // can fail, or the search for the cheapest taps find none.
    const status done = get_taps_figures(s, result);
    if (done == status::none_fits) {
        return usage_error(no_cheapest_taps(s));
    }
    if (done != status::ok) {
        return cli::fail(program, describe(done));
    }
#ifdef TAPSMITH_HAVE_PNG
    image_figures figures;
    if (o.apply != nullptr) {
        std::string problem = apply_to_png(result, reader, in, figures, files);
        if (problem.empty()) {
            problem = files.commit();
        }
        if (!problem.empty()) {
            return cli::fail(program, problem);
        }
        result.image = &figures;
        if (!o.bits_given && !s.minimize_adders) {
            warn_about_default_bits(result);
        }
    }
#endif
    o.format->write(out, result);
    return cli::finish(out, program);
}

}  // namespace tapsmith
