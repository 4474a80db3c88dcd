// SPDX-License-Identifier: MIT
#include "run.hpp"

#ifdef TAPSMITH_HAVE_PNG
#include "apply.hpp"
#endif
#include "formats.hpp"
#include "options.hpp"

#include "tapsmith/cli/output.hpp"
#include "tapsmith/cli/status.hpp"

#ifndef TAPSMITH_VERSION
#define TAPSMITH_VERSION "unknown"
#endif

namespace tapsmith {

namespace {

constexpr std::string_view program = "tapsmith-fixed";

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
    if (o.apply != nullptr) {
        const std::string problem = read_png(o.apply, in);
        if (!problem.empty()) {
            return cli::fail(program, problem);
        }
        o.settings.pixel_bits = static_cast<std::int32_t>(in.bit_depth);
        std::string usage = check_settings(o.settings, o.shown);
        if (usage.empty() && o.settings.pixel_bits + 2 * o.settings.bits > 64) {
            usage =
                quoted("the image's pixel bits plus twice the bits exceed 64:",
                       std::to_string(o.settings.pixel_bits) + " + 2 * " + std::to_string(o.settings.bits));
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
    // The settings were checked: only memory for a long flat filter's search can fail.
    if (get_fixed_samples(s.n, s.sigma, s.how, result.gf) != status::ok ||
        get_fixed_taps(s.n, s.sigma, s.bits, s.how, result.taps) != status::ok) {
        return cli::fail(program, describe(status::out_of_memory));
    }
    result.figures = get_fixed_figures(s.n, s.bits, s.pixel_bits, result.taps, result.gf);
#ifdef TAPSMITH_HAVE_PNG
    image_figures figures;
    if (o.apply != nullptr) {
        const std::string problem = apply_to_png(result, in, figures);
        if (!problem.empty()) {
            return cli::fail(program, problem);
        }
        result.image = &figures;
    }
#endif
    o.format->write(out, result);
    return cli::finish(out, program);
}

}  // namespace tapsmith
