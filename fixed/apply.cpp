// SPDX-License-Identifier: MIT
#include "apply.hpp"

#include "tapsmith/cli/output.hpp"
#include "tapsmith/image/png.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

namespace tapsmith {

namespace {

// One channel filtered with the normalised samples in double precision,
// separably, with the same borders: what the integer filter approximates.
std::vector<double> reference_plane(const image& img, std::uint32_t channel, const fixed_samples& gf,
                                    std::int32_t n, border how) {
    const auto w = static_cast<std::int64_t>(img.width);
    const auto h = static_cast<std::int64_t>(img.height);
    const std::int64_t m = (n - 1) / 2;
    const std::size_t step = img.channels;
    std::vector<double> rows(static_cast<std::size_t>(w * h));
    for (std::int64_t y = 0; y < h; ++y) {
        for (std::int64_t x = 0; x < w; ++x) {
            double sum = 0.0;
            for (std::int64_t j = 0; j < n; ++j) {
                const std::int64_t q = border_index(x + j - m, w, how);
                if (q >= 0) {
                    sum += gf[static_cast<std::size_t>(j)] *
                           img.samples[static_cast<std::size_t>(y * w + q) * step + channel];
                }
            }
            rows[static_cast<std::size_t>(y * w + x)] = sum;
        }
    }
    std::vector<double> out(rows.size());
    for (std::int64_t y = 0; y < h; ++y) {
        for (std::int64_t x = 0; x < w; ++x) {
            double sum = 0.0;
            for (std::int64_t i = 0; i < n; ++i) {
                const std::int64_t q = border_index(y + i - m, h, how);
                if (q >= 0) {
                    sum += gf[static_cast<std::size_t>(i)] * rows[static_cast<std::size_t>(q * w + x)];
                }
            }
            out[static_cast<std::size_t>(y * w + x)] = sum;
        }
    }
    return out;
}

// The samples of `img`, channel by channel (alpha left out), each in raster
// order: one sample a line in hexadecimal, as $readmemh and VHDL textio read.
void write_hex(std::FILE* stream, const image& img) {
    cli::output out(cli::write_to_stream, stream);
    const std::size_t pixels = std::size_t{img.width} * img.height;
    const std::string_view line = img.bit_depth > 8 ? "{0:04x}\n" : "{0:02x}\n";
    for (std::uint32_t c = 0; c < img.channels; ++c) {
        if (static_cast<int>(c) == img.alpha) {
            continue;
        }
        for (std::size_t p = 0; p < pixels; ++p) {
            cli::print(out, line, {std::int64_t{img.samples[p * img.channels + c]}});
        }
    }
}

}  // namespace

std::string stage_outputs(const fixed_options& o, cli::staged_files& files) {
    std::string problem = files.add(o.output);
    if (problem.empty() && o.vectors != nullptr) {
        problem = files.add(std::string(o.vectors) + "_in.hex");
        if (problem.empty()) {
            problem = files.add(std::string(o.vectors) + "_out.hex");
        }
    }
    return problem;
}

std::string apply_to_png(const fixed_result& result, const image& in, image_figures& figures,
                         const cli::staged_files& files) {
    const fixed_options& o = *result.options;
    const fixed_settings& s = o.settings;
    std::string problem;
    image out;
    if (!make_image(out, in.width, in.height, in.channels, in.bit_depth)) {
        return "out of memory";
    }
    const blur_options filter{s.n, result.taps.data(), s.bits, static_cast<std::int32_t>(in.bit_depth),
                              o.edge};
    const status done = blur(in.samples.get(), out.samples.get(), {in.width, in.height, in.channels}, filter);
    if (done != status::ok) {
        return std::string(o.apply) + ": " + describe(done);
    }
    // Alpha is not a colour to blur: it stays as it was.
    const std::size_t pixels = std::size_t{in.width} * in.height;
    if (in.alpha >= 0) {
        const auto a = static_cast<std::size_t>(in.alpha);
        for (std::size_t p = 0; p < pixels; ++p) {
            out.samples[p * in.channels + a] = in.samples[p * in.channels + a];
        }
    }
    double squares = 0.0;
    double worst = 0.0;
    std::size_t count = 0;
    for (std::uint32_t c = 0; c < in.channels; ++c) {
        if (static_cast<int>(c) == in.alpha) {
            continue;
        }
        const std::vector<double> exact = reference_plane(in, c, result.gf, s.n, o.edge);
        for (std::size_t p = 0; p < pixels; ++p) {
            const double e = static_cast<double>(out.samples[p * in.channels + c]) - exact[p];
            squares += e * e;
            worst = std::max(worst, std::fabs(e));
            ++count;
        }
    }
    const double peak = std::ldexp(1.0, static_cast<int>(in.bit_depth)) - 1.0;
    figures.width = in.width;
    figures.height = in.height;
    figures.channels = in.channels;
    figures.max_abs_error = worst;
    figures.psnr_db = 10.0 * std::log10(peak * peak / (squares / static_cast<double>(count)));
    problem = write_png(files.stream(0), o.output, out);
    if (problem.empty() && o.vectors != nullptr) {
        write_hex(files.stream(1), in);
        write_hex(files.stream(2), out);
    }
    return problem;
}

}  // namespace tapsmith
