// SPDX-License-Identifier: MIT
#include "apply.hpp"

#include "tapsmith/cli/output.hpp"
#include "tapsmith/image/png.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

namespace tapsmith {

namespace {

// to[x] = from_0[x] g_0 + from_1[x] g_1 + ..., the terms added left to right
// as written, four to a pass over the row so that each pass loads and
// stores the sums once.
void weighted_sum(double* to, const double* const* from, const double* g, std::size_t terms, std::size_t w) {
    const double* a = from[0];
    for (std::size_t x = 0; x < w; ++x) {
        to[x] = g[0] * a[x];
    }
    std::size_t t = 1;
    for (; t + 4 <= terms; t += 4) {
        const double* p0 = from[t];
        const double* p1 = from[t + 1];
        const double* p2 = from[t + 2];
        const double* p3 = from[t + 3];
        const double g0 = g[t];
        const double g1 = g[t + 1];
        const double g2 = g[t + 2];
        const double g3 = g[t + 3];
        for (std::size_t x = 0; x < w; ++x) {
            to[x] = (((to[x] + g0 * p0[x]) + g1 * p1[x]) + g2 * p2[x]) + g3 * p3[x];
        }
    }
    for (; t < terms; ++t) {
        const double* p = from[t];
        const double gt = g[t];
        for (std::size_t x = 0; x < w; ++x) {
            to[x] += gt * p[x];
        }
    }
}

// What the output's error against the same filter in double precision adds up to.
struct error_sums {
    double squares = 0.0;
    double worst = 0.0;
    std::size_t count = 0;
};

// One channel of `in` filtered with the normalised samples in double
// precision, separably, with the same borders, compared with `out` as each
// row is done: a horizontal pass of each input row into a ring of the last
// n (every row an output row reads lies within m of it, or, in images of
// fewer than n rows, anywhere in them), then the vertical pass. Each sum
// runs over the taps in their order and the errors over the pixels in
// raster order, as when the two passes fill whole planes, so the figures
// keep their digits; the passes go a row at a time, which compilers
// vectorise, in O(width n) memory.
void add_errors(const image& in, const image& out, std::uint32_t channel, const fixed_samples& gf,
                std::int32_t n, border how, error_sums& sums) {
    const auto w = static_cast<std::size_t>(in.width);
    const auto h = static_cast<std::int64_t>(in.height);
    const auto taps = static_cast<std::size_t>(n);
    const std::size_t m = taps / 2;
    const auto reach = static_cast<std::int64_t>(m);
    const std::size_t step = in.channels;
    std::vector<double> ring(taps * w);
    std::vector<double> line(w + 2 * m);
    std::vector<double> sum(w);
    std::array<const double*, FIXED_MAX> from{};
    fixed_samples weights{};
    const auto slot = [&](std::int64_t q) { return &ring[static_cast<std::size_t>(q % n) * w]; };
    const auto horizontal = [&](std::int64_t q) {
        const std::uint16_t* row = &in.samples[static_cast<std::size_t>(q) * w * step + channel];
        for (std::size_t x = 0; x < w + 2 * m; ++x) {
            // Outside the image with zero borders: + 0.0 leaves a sum as it is.
            const std::int64_t at = x >= m && x < w + m ? static_cast<std::int64_t>(x - m)
                                                        : border_index(static_cast<std::int64_t>(x) - reach,
                                                                       static_cast<std::int64_t>(w), how);
            line[x] = at >= 0 ? static_cast<double>(row[static_cast<std::size_t>(at) * step]) : 0.0;
        }
        // The first term is the sum so far (0 + a is a, a never -0).
        for (std::size_t j = 0; j < taps; ++j) {
            from[j] = &line[j];
        }
        weighted_sum(slot(q), from.data(), gf.data(), taps, w);
    };
    std::int64_t next = 0;  // the next input row to pass horizontally
    for (std::int64_t y = 0; y < h; ++y) {
        for (; next <= std::min(h - 1, y + reach); ++next) {
            horizontal(next);
        }
        // Rows outside the image with zero borders add nothing: left out.
        std::size_t terms = 0;
        for (std::size_t i = 0; i < taps; ++i) {
            const std::int64_t q = border_index(y + static_cast<std::int64_t>(i) - reach, h, how);
            if (q >= 0) {
                from[terms] = slot(q);
                weights[terms] = gf[i];
                ++terms;
            }
        }
        weighted_sum(sum.data(), from.data(), weights.data(), terms, w);
        const std::uint16_t* got = &out.samples[static_cast<std::size_t>(y) * w * step + channel];
        for (std::size_t x = 0; x < w; ++x) {
            const double e = static_cast<double>(got[x * step]) - sum[x];
            sums.squares += e * e;
            sums.worst = std::max(sums.worst, std::fabs(e));
        }
        sums.count += w;
    }
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
    const fixed_settings& s = result.settings;
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
    error_sums sums;
    for (std::uint32_t c = 0; c < in.channels; ++c) {
        if (static_cast<int>(c) != in.alpha) {
            add_errors(in, out, c, result.gf, s.n, o.edge, sums);
        }
    }
    const double peak = std::ldexp(1.0, static_cast<int>(in.bit_depth)) - 1.0;
    figures.width = in.width;
    figures.height = in.height;
    figures.channels = in.channels;
    figures.max_abs_error = sums.worst;
    figures.psnr_db = 10.0 * std::log10(peak * peak / (sums.squares / static_cast<double>(sums.count)));
    problem = write_png(files.stream(0), o.output, out, o.png_compression);
    if (problem.empty() && o.vectors != nullptr) {
        write_hex(files.stream(1), in);
        write_hex(files.stream(2), out);
    }
    return problem;
}

}  // namespace tapsmith
