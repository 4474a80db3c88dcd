// SPDX-License-Identifier: MIT
#include "apply.hpp"
#include "weighted_sum.hpp"

#include "tapsmith/cli/output.hpp"
#include "tapsmith/image/png.hpp"

#include <pthread.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>
#include <type_traits>
#include <vector>

namespace tapsmith {

namespace {

// What the output's error against the same filter in double precision adds up to.
struct error_sums {
    double squares = 0.0;
    double worst = 0.0;
    std::size_t count = 0;
};

// One channel of `in` filtered with the normalised samples in double
// precision, separably, with the same borders, a strip of columns and a
// row at a time: a horizontal pass of each input row's strip into a ring of
// the last n (every row an output row reads lies within m of it, or, in
// images of fewer than n rows, anywhere in them), then the vertical pass.
// Each sum runs over the taps in their order, as when the two passes fill
// whole planes, so the figures keep their digits. The strips are narrow
// enough for the ring to stay in the first-level cache, where the vertical
// pass reads every sum n times. Any band of rows can be made on its own:
// its ring starts m rows above it.
class reference_rows {
  public:
    reference_rows(const image& in, std::uint32_t channel, const fixed_samples& gf, std::int32_t n,
                   border how)
        : in_(in),
          channel_(channel),
          gf_(gf),
          how_(how),
          w_(in.width),
          h_(static_cast<std::int64_t>(in.height)),
          taps_(static_cast<std::size_t>(n)),
          m_(taps_ / 2),
          strip_(strip_width(in.width, taps_)),
          ring_(taps_ * strip_),
          line_(strip_ + 2 * m_),
          sum_(strip_) {}

    // Columns a strip takes: a multiple of 8 (the running sums of a row's
    // squares are by column mod 8), 32 KiB of ring, at least 64 columns.
    static std::size_t strip_width(std::size_t w, std::size_t n) {
        const std::size_t fit =
            std::max<std::size_t>(64, (std::size_t{32} << 10U) / (sizeof(double) * n)) / 8 * 8;
        return std::min(w, fit);
    }
    [[nodiscard]] std::size_t strip() const { return strip_; }

    // Rows top .. bottom - 1 of columns x0 .. x0 + strip() - 1 (or the
    // row's end), each handed to done(y, its sums, their count) in turn.
    template <typename Done>
    void make(std::int64_t top, std::int64_t bottom, std::size_t x0, Done&& done) {
        const std::size_t len = std::min(strip_, w_ - x0);
        const auto reach = static_cast<std::int64_t>(m_);
        fixed_samples weights{};
        // The next input row to pass horizontally.
        for (std::int64_t next = std::max<std::int64_t>(0, top - reach), y = top; y < bottom; ++y) {
            for (; next <= std::min(h_ - 1, y + reach); ++next) {
                horizontal(next, x0, len);
            }
            // Rows outside the image with zero borders add nothing: left out.
            std::size_t terms = 0;
            for (std::size_t i = 0; i < taps_; ++i) {
                const std::int64_t q = border_index(y + static_cast<std::int64_t>(i) - reach, h_, how_);
                if (q >= 0) {
                    from_[terms] = slot(q);
                    weights[terms] = gf_[i];
                    ++terms;
                }
            }
            weighted_sum(sum_.data(), from_.data(), weights.data(), terms, len);
            done(y, sum_.data(), len);
        }
    }

  private:
    double* slot(std::int64_t q) {
        return &ring_[static_cast<std::size_t>(q % static_cast<std::int64_t>(taps_)) * strip_];
    }

    void horizontal(std::int64_t q, std::size_t x0, std::size_t len) {
        const std::size_t at = static_cast<std::size_t>(q) * w_ * in_.channels + channel_;
        if (const std::uint8_t* bytes = samples8(in_)) {
            widen(bytes + at, x0, len);
        } else {
            widen(samples16(in_) + at, x0, len);
        }
        // The first term is the sum so far (0 + a is a, a never -0).
        for (std::size_t j = 0; j < taps_; ++j) {
            from_[j] = &line_[j];
        }
        weighted_sum(slot(q), from_.data(), gf_.data(), taps_, len);
    }

    // Columns x0 - m .. x0 + len + m - 1 of a row of the channel into
    // line_, those outside the image as the border makes them (outside with
    // zero borders: + 0.0 leaves a sum as it is).
    template <typename Sample>
    void widen(const Sample* row, std::size_t x0, std::size_t len) {
        const std::size_t step = in_.channels;
        const auto wide = static_cast<std::int64_t>(w_);
        const auto first = static_cast<std::int64_t>(x0) - static_cast<std::int64_t>(m_);
        const std::size_t count = len + 2 * m_;
        // line_[k] is column first + k: inside the image for k in [lo, hi).
        const auto lo =
            static_cast<std::size_t>(std::clamp<std::int64_t>(-first, 0, static_cast<std::int64_t>(count)));
        const auto hi = static_cast<std::size_t>(std::clamp<std::int64_t>(
            wide - first, static_cast<std::int64_t>(lo), static_cast<std::int64_t>(count)));
        const auto border_sample = [&](std::size_t k) {
            const std::int64_t x = border_index(first + static_cast<std::int64_t>(k), wide, how_);
            line_[k] = x >= 0 ? static_cast<double>(row[static_cast<std::size_t>(x) * step]) : 0.0;
        };
        for (std::size_t k = 0; k < lo; ++k) {
            border_sample(k);
        }
        for (std::size_t k = hi; k < count; ++k) {
            border_sample(k);
        }
        const Sample* from = row + static_cast<std::size_t>(first + static_cast<std::int64_t>(lo)) * step;
        double* to = &line_[lo];
        // A constant stride for each channel count, which compilers vectorise.
        const auto convert = [&](auto stride) {
            for (std::size_t k = 0; k < hi - lo; ++k) {
                to[k] = static_cast<double>(from[k * stride]);
            }
        };
        switch (step) {
            case 1:
                convert(std::integral_constant<std::size_t, 1>{});
                break;
            case 2:
                convert(std::integral_constant<std::size_t, 2>{});
                break;
            case 3:
                convert(std::integral_constant<std::size_t, 3>{});
                break;
            default:
                convert(std::integral_constant<std::size_t, 4>{});
                break;
        }
    }

    const image& in_;
    std::uint32_t channel_;
    const fixed_samples& gf_;
    border how_;
    std::size_t w_;
    std::int64_t h_;
    std::size_t taps_;
    std::size_t m_;
    std::size_t strip_;
    std::vector<double> ring_;
    std::vector<double> line_;
    std::vector<double> sum_;
    std::array<const double*, FIXED_MAX> from_{};
};

// How many threads: `requested`, or one per core for 0 (a core count the
// system cannot tell counts as 1).
std::size_t thread_count(int requested) {
    if (requested > 0) {
        return static_cast<std::size_t>(requested);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? std::size_t{cores} : 1;
}

// Runs work(t) on `threads` threads, this one as t = 0, and waits for
// them. pthread_create says when it cannot start a thread; std::thread
// would throw, which this code, built without exceptions, cannot catch. So
// `work` shares out what is to be done as it goes: the threads that start,
// this one included, do it all between them.
template <typename Work>
void on_threads(std::size_t threads, const Work& work) {
    struct job {
        const Work* run;
        std::size_t t;
    };
    std::vector<job> jobs(threads);
    std::vector<pthread_t> workers;
    workers.reserve(threads);
    for (std::size_t t = 1; t < threads; ++t) {
        jobs[t] = {&work, t};
        pthread_t id{};
        const auto start = [](void* p) -> void* {
            const job& j = *static_cast<const job*>(p);
            (*j.run)(j.t);
            return nullptr;
        };
        if (pthread_create(&id, nullptr, start, &jobs[t]) != 0) {
            break;
        }
        workers.push_back(id);
    }
    work(0);
    for (const pthread_t id : workers) {
        pthread_join(id, nullptr);
    }
}

// The colour channels' errors against `out`. Each row's squared errors
// make a sum of their own, the same on every processor (square_lanes,
// filled a strip at a time), and the rows' sums go into the total channel
// by channel, each in raster order: whatever the thread count, the same
// numbers added in the same order. Threads, this one among them, take
// blocks of rows in turn, each channel with a ring of its own started m
// rows above the block; every channel of a strip is done while the strip
// is in the cache. The largest error is a maximum, the same in any order.
void add_errors(const image& in, const image& out, const fixed_samples& gf, std::int32_t n, border how,
                std::size_t threads, error_sums& sums) {
    std::vector<std::uint32_t> colours;
    for (std::uint32_t c = 0; c < in.channels; ++c) {
        if (static_cast<int>(c) != in.alpha) {
            colours.push_back(c);
        }
    }
    const std::size_t w = in.width;
    const auto h = static_cast<std::int64_t>(in.height);
    const auto rows = static_cast<std::size_t>(h);
    // A quarter of a thread's share of the rows balances the load; at least
    // 2n rows keep the rows each ring starts with to a fraction of its work.
    const std::size_t share = (std::size_t{in.height} + 4 * threads - 1) / (4 * threads);
    const auto block = static_cast<std::int64_t>(
        std::min(std::max(2 * static_cast<std::size_t>(n), share), std::size_t{in.height}));
    const std::int64_t blocks = (h + block - 1) / block;
    threads = std::min(threads, static_cast<std::size_t>(blocks));
    // Channel k's row y at k * rows + y.
    std::vector<double> row_sums(colours.size() * rows);
    // Kept apart until a thread is done: neighbours in one cache line would
    // make the cores fight over it.
    std::vector<double> worst(threads, 0.0);
    std::atomic<std::int64_t> next{0};
    const auto work = [&](std::size_t t) {
        std::vector<reference_rows> makers;
        makers.reserve(colours.size());
        for (const std::uint32_t c : colours) {
            makers.emplace_back(in, c, gf, n, how);
        }
        const std::size_t step = out.channels;
        const std::size_t strip = makers[0].strip();
        const std::uint8_t* const bytes = samples8(out);
        const std::uint16_t* const words = samples16(out);
        // A block's rows' running sums of squares, channel by channel,
        // filled a strip at a time.
        const auto span = static_cast<std::size_t>(block);
        std::vector<square_lanes> lanes(colours.size() * span);
        double largest = 0.0;
        for (std::int64_t b = next++; b < blocks; b = next++) {
            const std::int64_t top = b * block;
            const std::int64_t bottom = std::min(h, top + block);
            std::fill(lanes.begin(), lanes.end(), square_lanes{});
            for (std::size_t x0 = 0; x0 < w; x0 += strip) {
                for (std::size_t k = 0; k < colours.size(); ++k) {
                    makers[k].make(top, bottom, x0, [&](std::int64_t y, const double* sum, std::size_t len) {
                        const std::size_t at = (static_cast<std::size_t>(y) * w + x0) * step + colours[k];
                        square_lanes& into = lanes[k * span + static_cast<std::size_t>(y - top)];
                        if (bytes != nullptr) {
                            add_squares(bytes + at, step, sum, len, into, largest);
                        } else {
                            add_squares(words + at, step, sum, len, into, largest);
                        }
                    });
                }
            }
            for (std::size_t k = 0; k < colours.size(); ++k) {
                for (std::int64_t y = top; y < bottom; ++y) {
                    row_sums[k * rows + static_cast<std::size_t>(y)] =
                        lane_total(lanes[k * span + static_cast<std::size_t>(y - top)]);
                }
            }
        }
        worst[t] = largest;
    };
    on_threads(threads, work);
    for (const double row : row_sums) {
        sums.squares += row;
    }
    for (const double e : worst) {
        sums.worst = std::max(sums.worst, e);
    }
    sums.count += colours.size() * w * rows;
}

// The samples of `img` in hexadecimal, as $readmemh and VHDL textio read
// them. With `ppc` 0, one sample a line, channel by channel (alpha left
// out), each in raster order; otherwise one line a beat of `ppc` pixels in
// raster order, every channel, as the filter cores take them: pixel 0 in the
// low bits, channel 0 lowest within a pixel.
void write_hex(std::FILE* stream, const image& img, int ppc) {
    cli::output out(cli::write_to_stream, stream);
    const std::size_t pixels = std::size_t{img.width} * img.height;
    const std::string_view digits = img.bit_depth > 8 ? "{0:04x}" : "{0:02x}";
    if (ppc > 0) {
        const std::size_t beat = static_cast<std::size_t>(ppc) * img.channels;
        for (std::size_t first = 0; first < pixels * img.channels; first += beat) {
            for (std::size_t i = beat; i-- > 0;) {
                cli::print(out, digits, {std::int64_t{sample(img, first + i)}});
            }
            cli::print(out, "\n", {});
        }
        return;
    }
    const std::string_view line = img.bit_depth > 8 ? "{0:04x}\n" : "{0:02x}\n";
    for (std::uint32_t c = 0; c < img.channels; ++c) {
        if (static_cast<int>(c) == img.alpha) {
            continue;
        }
        for (std::size_t p = 0; p < pixels; ++p) {
            cli::print(out, line, {std::int64_t{sample(img, p * img.channels + c)}});
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
    blur_options filter{s.n, result.taps.data(), s.bits, static_cast<std::int32_t>(in.bit_depth), o.edge};
    filter.threads = o.threads;
    const image_size size{in.width, in.height, in.channels};
    const status done = in.bit_depth == 8 ? blur(samples8(in), samples8(out), size, filter)
                                          : blur(samples16(in), samples16(out), size, filter);
    if (done != status::ok) {
        return std::string(o.apply) + ": " + describe(done);
    }
    // Alpha is not a colour to blur: it stays as it was.
    const std::size_t pixels = std::size_t{in.width} * in.height;
    if (in.alpha >= 0) {
        const auto a = static_cast<std::size_t>(in.alpha);
        for (std::size_t p = 0; p < pixels; ++p) {
            set_sample(out, p * in.channels + a, sample(in, p * in.channels + a));
        }
    }
    error_sums sums;
    const std::size_t threads = thread_count(o.threads);
    const auto add_all_errors = [&](std::size_t share) {
        add_errors(in, out, result.gf, s.n, o.edge, share, sums);
    };
    // With threads to spare the PNG is written while the figures are worked
    // out: both only read `out`, and zlib's one stream is the longest part.
    if (threads > 1) {
        std::atomic<int> next{0};
        on_threads(2, [&](std::size_t /*t*/) {
            for (int task = next++; task < 2; task = next++) {
                if (task == 0) {
                    problem = write_png(files.stream(0), o.output, out, o.png_compression);
                } else {
                    add_all_errors(threads - 1);
                }
            }
        });
    } else {
        add_all_errors(1);
        problem = write_png(files.stream(0), o.output, out, o.png_compression);
    }
    const double peak = std::ldexp(1.0, static_cast<int>(in.bit_depth)) - 1.0;
    figures.width = in.width;
    figures.height = in.height;
    figures.channels = in.channels;
    figures.max_abs_error = sums.worst;
    figures.psnr_db = 10.0 * std::log10(peak * peak / (sums.squares / static_cast<double>(sums.count)));
    if (problem.empty() && o.vectors != nullptr) {
        write_hex(files.stream(1), in, o.ppc);
        write_hex(files.stream(2), out, o.ppc);
    }
    return problem;
}

}  // namespace tapsmith
