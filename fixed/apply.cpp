// SPDX-License-Identifier: MIT
#include "apply.hpp"
#include "weighted_sum.hpp"

#include "tapsmith/cli/output.hpp"
#include "tapsmith/image/png.hpp"

#include <pthread.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
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

// A strip reads a short piece of each row, a whole row apart: too far apart
// for the processor to see them coming, so each row's piece is asked for
// this many rows before it is read.
constexpr std::int64_t rows_ahead = 8;

// Asks for samples at .. at + count - 1 of img to be brought into the cache.
void prefetch_samples(const image& img, std::size_t at, std::size_t count) {
    const std::size_t size = img.bit_depth / 8;
    const char* const from = static_cast<const char*>(img.data.get()) + at * size;
    for (std::size_t b = 0; b < count * size; b += 64) {
        __builtin_prefetch(from + b);
    }
}

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
          ring_rows_(std::max<std::size_t>(taps_, 1)),  // n is odd, so 1 or more
          m_(taps_ / 2),
          strip_(strip_width(in.width, taps_)),
          ring_(ring_rows_ * strip_),
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
                ahead(next + rows_ahead, x0, len);
                horizontal(next, x0, len);
            }
            // Away from the top and bottom, the n rows in the ring in turn,
            // from the one holding y - m.
            if (y >= reach && y + reach < h_) {
                for (std::size_t i = 0, at = ring_index(y - reach); i < taps_; ++i) {
                    from_[i] = &ring_[at * strip_];
                    at = at + 1 == ring_rows_ ? 0 : at + 1;
                }
                weighted_sum(sum_.data(), from_.data(), gf_.data(), taps_, len);
                done(y, sum_.data(), len);
                continue;
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
    // Asks for the columns of input row q that horizontal() will read, if
    // there is such a row.
    void ahead(std::int64_t q, std::size_t x0, std::size_t len) const {
        if (q < h_) {
            const std::size_t first = x0 > m_ ? x0 - m_ : 0;
            const std::size_t end = std::min(w_, x0 + len + m_);
            const std::size_t at = (static_cast<std::size_t>(q) * w_ + first) * in_.channels;
            prefetch_samples(in_, at, (end - first) * in_.channels);
        }
    }
    [[nodiscard]] std::size_t ring_index(std::int64_t q) const {
        // Rows are below 2^16: a 32-bit division, several times faster than a 64-bit one.
        return std::size_t{static_cast<std::uint32_t>(q) % static_cast<std::uint32_t>(ring_rows_)};
    }
    double* slot(std::int64_t q) { return &ring_[ring_index(q) * strip_]; }

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
        widen_samples(row + static_cast<std::size_t>(first + static_cast<std::int64_t>(lo)) * step, step,
                      &line_[lo], hi - lo);
    }

    const image& in_;
    std::uint32_t channel_;
    const fixed_samples& gf_;
    border how_;
    const std::size_t w_;
    const std::int64_t h_;
    const std::size_t taps_;
    const std::size_t ring_rows_;
    const std::size_t m_;
    const std::size_t strip_;
    std::vector<double> ring_;
    std::vector<double> line_;
    std::vector<double> sum_;
    std::array<const double*, FIXED_MAX> from_{};
};

// Has the system give `img` its memory now rather than page by page as
// it is first written, where it can (Linux 5.14 on). A thread with nothing
// to do yet takes that cost off the one that reads the input, which all
// the others wait for.
void populate(const image& img) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    const std::size_t page = 4096;
    char* const block = static_cast<char*>(img.data.get());
    const std::size_t bytes = sample_count(img) * (img.bit_depth / 8);
    // madvise takes whole pages: those inside the block.
    const auto skip =
        static_cast<std::size_t>((page - reinterpret_cast<std::uintptr_t>(block) % page) % page);
    if (bytes > skip) {
        // Refused (an older kernel): the pages come as they are written.
        static_cast<void>(madvise(block + skip, (bytes - skip) / page * page, MADV_POPULATE_WRITE));
    }
#else
    static_cast<void>(img);
#endif
}

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

// Rows a block: a quarter of a thread's share balances the load and lets
// the writer start early, at most 256 keep the rows in flight few, at
// least 2n keep the rows each reference ring starts with to a fraction of
// its work.
std::size_t block_rows(std::size_t height, std::int32_t n, std::size_t threads) {
    const std::size_t share = (height + 8 * threads - 1) / (8 * threads);
    return std::min(std::max(2 * static_cast<std::size_t>(n), std::min<std::size_t>(share, 256)), height);
}

// The filter and the figures in one pass, a block of rows at a time, the
// PNG written as the blocks are done. Threads, this one among them, take
// blocks in turn: each filters its block's rows (blur_rows), copies their
// alpha, and makes the colour channels' double-precision reference for
// them, a strip of columns at a time (every channel of a strip while it is
// in the cache, each with a ring started m rows above the block), while the
// rows are still in the cache. Each row's squared errors make a sum of
// their own, the same on every processor (square_lanes), and the rows'
// sums go into the total channel by channel, each in raster order: whatever
// the thread count, the same numbers added in the same order. The largest
// error is a maximum, the same in any order. The PNG is written as bands
// of made rows, which threads compress side by side (png_band_writer), or
// by libpng on this thread, which makes blocks while it waits for rows.
// Every thread takes whatever is ready, so any number of threads that
// start finish the work. The output is the whole image, or, when nothing
// needs it whole, a ring of rows (a number of whole blocks) that blocks
// fill only once the bands they overwrite are compressed.
class one_pass {
  public:
    one_pass(const fixed_result& result, const image& in, image& out, std::size_t threads)
        : in_(in),
          out_(out),
          gf_(result.gf),
          n_(result.settings.n),
          how_(result.options->edge),
          filter_{result.settings.n, result.taps.data(), result.settings.bits,
                  static_cast<std::int32_t>(in.bit_depth), result.options->edge},
          h_(static_cast<std::int64_t>(in.height)),
          kept_(static_cast<std::int64_t>(out.height)),
          line_(std::size_t{in.width} * in.channels) {
        for (std::uint32_t c = 0; c < in.channels; ++c) {
            if (static_cast<int>(c) != in.alpha) {
                colours_.push_back(c);
            }
        }
        block_ = static_cast<std::int64_t>(block_rows(in.height, n_, threads));
        blocks_ = (h_ + block_ - 1) / block_;
        row_sums_.resize(colours_.size() * static_cast<std::size_t>(h_));
        done_.assign(static_cast<std::size_t>(blocks_), 0);
        worst_.assign(threads, 0.0);
    }

    // Output row y's samples (of the whole image or of the ring).
    [[nodiscard]] const void* out_row(std::int64_t y) const {
        return static_cast<const char*>(out_.data.get()) +
               static_cast<std::size_t>(y_of(y)) * line_ * (out_.bit_depth / 8);
    }

    // What one thread keeps from block to block.
    struct worker {
        explicit worker(const one_pass& p) {
            makers.reserve(p.colours_.size());
            for (const std::uint32_t c : p.colours_) {
                makers.emplace_back(p.in_, c, p.gf_, p.n_, p.how_);
            }
            lanes.resize(p.colours_.size() * static_cast<std::size_t>(p.block_));
        }
        std::vector<reference_rows> makers;
        std::vector<square_lanes> lanes;
        double largest = 0.0;
    };

    // Reads the input's pixels, telling the threads as rows arrive. ""
    // or the reader's message, after which the threads stop.
    std::string read(png_reader& reader) {
        const row_sink sink{[](void* p, std::uint32_t rows) { static_cast<one_pass*>(p)->have_rows(rows); },
                            this};
        std::string problem = reader.read_rows(sink);
        {
            const std::lock_guard<std::mutex> held(lock_);
            read_ = static_cast<std::uint32_t>(h_);
            unread_ = !problem.empty();
        }
        changed_.notify_all();
        return problem;
    }

    // Takes what there is to do until nothing is left to take (blocks to
    // make, then bands of them to compress and write, oldest first), or,
    // with `until` above 0, until rows 0 .. until - 1 are made, which a
    // writer of its own waits for. Returns the rows made from the top.
    std::uint32_t work(worker& w, png_band_writer* bands, std::uint32_t until = 0) {
        std::unique_lock<std::mutex> held(lock_);
        for (;;) {
            const std::uint32_t made = rows_done();
            if (until > 0 && made >= until) {
                return made;
            }
            // After a failure nothing more is made, and what is written is
            // never kept: a writer may take the rows as they are.
            if (unread_ || failure_.load() != status::ok) {
                return std::max(made, until);
            }
            // Bands first: the file grows in order and made rows leave the cache written.
            if (bands != nullptr && next_band_ < bands->bands() && bands->rows_needed(next_band_) <= made) {
                const std::size_t b = next_band_++;
                held.unlock();
                bands->write_band(b);
                held.lock();
                band_done_.resize(bands->bands());
                band_done_[b] = 1;
                for (; written_band_ < bands->bands() && band_done_[written_band_] != 0; ++written_band_) {
                    written_ = bands->rows_needed(written_band_);
                }
                changed_.notify_all();
                continue;
            }
            // In a ring, a block waits for the rows it overwrites to be compressed.
            if (next_block_ < blocks_ && input_needed(next_block_) <= read_ &&
                std::min(h_, (next_block_ + 1) * block_) - kept_ <= std::int64_t{written_}) {
                take_block(w, held);
                continue;
            }
            if (until == 0 && next_block_ == blocks_ && (bands == nullptr || next_band_ == bands->bands())) {
                return made;
            }
            // What is wanted is being read or made by other threads.
            changed_.wait(held);
        }
    }

    // Thread t's largest error so far (each thread its own slot).
    void keep_worst(std::size_t t, const worker& w) { worst_[t] = std::max(worst_[t], w.largest); }

    // Once every block is made.
    [[nodiscard]] error_sums sums() const {
        error_sums sums;
        for (const double row : row_sums_) {
            sums.squares += row;
        }
        for (const double e : worst_) {
            sums.worst = std::max(sums.worst, e);
        }
        sums.count = colours_.size() * std::size_t{in_.width} * static_cast<std::size_t>(h_);
        return sums;
    }
    [[nodiscard]] status failure() const { return failure_.load(); }

  private:
    // Row y's place in out_.
    [[nodiscard]] std::int64_t y_of(std::int64_t y) const { return y % kept_; }

    // The three below with lock_ held.
    [[nodiscard]] std::uint32_t rows_done() const {
        return static_cast<std::uint32_t>(std::min(h_, finished_ * block_));
    }
    // The input rows block b reads: those within m of it, or, when they
    // reach the end, any (borders of images of fewer than n rows).
    [[nodiscard]] std::uint32_t input_needed(std::int64_t b) const {
        return static_cast<std::uint32_t>(std::min(h_, (b + 1) * block_ + n_ / 2));
    }
    // Makes the next block, lock_ let go meanwhile.
    void take_block(worker& w, std::unique_lock<std::mutex>& held) {
        const std::int64_t b = next_block_++;
        held.unlock();
        make(b, w);
        held.lock();
        done_[static_cast<std::size_t>(b)] = 1;
        while (finished_ < blocks_ && done_[static_cast<std::size_t>(finished_)] != 0) {
            ++finished_;
        }
        changed_.notify_all();
    }

    void have_rows(std::uint32_t rows) {
        // A lock a row would cost more than it tells: a few rows at a time,
        // waking threads only when the next block can start.
        if (rows % 8 != 0 && rows != h_) {
            return;
        }
        bool wake = false;
        {
            const std::lock_guard<std::mutex> held(lock_);
            read_ = rows;
            wake = next_block_ < blocks_ && input_needed(next_block_) <= rows;
        }
        if (wake) {
            changed_.notify_all();
        }
    }

    void make(std::int64_t b, worker& w) {
        const std::int64_t top = b * block_;
        const std::int64_t bottom = std::min(h_, top + block_);
        const auto first = static_cast<std::size_t>(top);
        const auto last = static_cast<std::size_t>(bottom);
        const image_size size{in_.width, in_.height, in_.channels};
        // A block's rows are together in the ring too: it holds whole blocks.
        void* const rows = const_cast<void*>(out_row(top));
        const status st =
            in_.bit_depth == 8
                ? blur_rows_to(samples8(in_), static_cast<std::uint8_t*>(rows), size, filter_, first, last)
                : blur_rows_to(samples16(in_), static_cast<std::uint16_t*>(rows), size, filter_, first, last);
        if (st != status::ok) {
            status none = status::ok;
            failure_.compare_exchange_strong(none, st);
            return;
        }
        // Alpha is not a colour to blur: it stays as it was.
        if (in_.alpha >= 0) {
            const auto at = static_cast<std::size_t>(y_of(top)) * line_;
            for (auto k = static_cast<std::size_t>(in_.alpha); k < (last - first) * line_;
                 k += in_.channels) {
                set_sample(out_, at + k, sample(in_, first * line_ + k));
            }
        }
        add_errors(top, bottom, w);
    }

    void add_errors(std::int64_t top, std::int64_t bottom, worker& w) {
        const std::size_t width = in_.width;
        const std::size_t step = out_.channels;
        const std::size_t strip = w.makers[0].strip();
        const std::uint8_t* const bytes = samples8(out_);
        const std::uint16_t* const words = samples16(out_);
        const std::size_t kept = static_cast<std::size_t>(kept_) * line_;
        const auto span = static_cast<std::size_t>(block_);
        const auto rows = static_cast<std::size_t>(h_);
        std::fill(w.lanes.begin(), w.lanes.end(), square_lanes{});
        for (std::size_t x0 = 0; x0 < width; x0 += strip) {
            for (std::size_t k = 0; k < colours_.size(); ++k) {
                w.makers[k].make(top, bottom, x0, [&](std::int64_t y, const double* sum, std::size_t len) {
                    const std::size_t at =
                        static_cast<std::size_t>(y_of(y)) * line_ + x0 * step + colours_[k];
                    if (y + rows_ahead < bottom) {
                        prefetch_samples(out_, (at + static_cast<std::size_t>(rows_ahead) * line_) % kept,
                                         len * step);
                    }
                    square_lanes& into = w.lanes[k * span + static_cast<std::size_t>(y - top)];
                    if (bytes != nullptr) {
                        add_squares(bytes + at, step, sum, len, into, w.largest);
                    } else {
                        add_squares(words + at, step, sum, len, into, w.largest);
                    }
                });
            }
        }
        for (std::size_t k = 0; k < colours_.size(); ++k) {
            for (std::int64_t y = top; y < bottom; ++y) {
                row_sums_[k * rows + static_cast<std::size_t>(y)] =
                    lane_total(w.lanes[k * span + static_cast<std::size_t>(y - top)]);
            }
        }
    }

    const image& in_;
    image& out_;
    const fixed_samples& gf_;
    std::int32_t n_;
    border how_;
    blur_options filter_;
    std::int64_t h_;
    std::int64_t kept_;  // output rows held: the height, or the ring's
    std::size_t line_;   // samples a row
    std::vector<std::uint32_t> colours_;
    std::int64_t block_ = 1;
    std::int64_t blocks_ = 0;
    // Channel k's row y at k * height + y.
    std::vector<double> row_sums_;
    // Kept apart until a thread is done: neighbours in one cache line would
    // make the cores fight over it.
    std::vector<double> worst_;
    std::atomic<status> failure_{status::ok};
    // What the threads share, under lock_.
    std::mutex lock_;
    std::condition_variable changed_;
    std::int64_t next_block_ = 0;  // the next to take
    std::size_t next_band_ = 0;
    std::vector<char> done_;        // block b is made
    std::int64_t finished_ = 0;     // blocks made from the top
    std::vector<char> band_done_;   // band b is compressed
    std::size_t written_band_ = 0;  // bands compressed from the top
    std::uint32_t written_ = 0;     // their rows
    std::uint32_t read_ = 0;        // input rows read from the top
    bool unread_ = false;           // the input could not be read
};

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

std::string apply_to_png(const fixed_result& result, png_reader& reader, const image& in,
                         image_figures& figures, const cli::staged_files& files) {
    const fixed_options& o = *result.options;
    const std::size_t threads = thread_count(o.threads);
    // The output whole only for what needs it (the vectors, libpng's
    // writer); otherwise a ring of the rows in flight: each thread's block,
    // one more, and the rows of a band being compressed, in whole blocks.
    image shape;  // the output's, without samples
    shape.width = in.width;
    shape.height = in.height;
    shape.channels = in.channels;
    shape.alpha = in.alpha;
    shape.bit_depth = in.bit_depth;
    std::uint32_t kept = in.height;
    if (o.vectors == nullptr && o.png_compression <= 1) {
        const std::size_t block = block_rows(in.height, result.settings.n, threads);
        const std::size_t band = png_band_writer::band_rows(shape);
        kept = static_cast<std::uint32_t>(
            std::min<std::size_t>(in.height, (threads + 1 + (band + block - 1) / block) * block));
    }
    image out;
    if (!make_image(out, in.width, kept, in.channels, in.bit_depth)) {
        return "out of memory";
    }
    one_pass pass(result, in, out, threads);
    // One thread reads while the others filter and write the rows read;
    // alone, it reads them all first.
    std::string unread;
    if (threads == 1) {
        unread = pass.read(reader);
    }
    std::string problem;
    std::FILE* const file = files.stream(0);
    const auto read_here = [&](std::size_t t) {
        if (t == 0 && threads > 1) {
            unread = pass.read(reader);
        } else if (t == 1) {
            populate(in);
        }
    };
    if (o.png_compression <= 1) {
        // The fast compressions are shared out among the threads, a band at a time.
        const image_rows rows{
            [](const void* p, std::uint32_t y) { return static_cast<const one_pass*>(p)->out_row(y); },
            &pass};
        png_band_writer bands(file, o.output, shape, o.png_compression, rows);
        on_threads(threads, [&](std::size_t t) {
            one_pass::worker w(pass);
            read_here(t);
            pass.work(w, &bands);
            pass.keep_worst(t, w);
        });
        problem = bands.finish();
    } else {
        // libpng compresses on the reading thread, which makes rows too while it waits for them.
        on_threads(threads, [&](std::size_t t) {
            one_pass::worker w(pass);
            read_here(t);
            if (t == 0) {
                struct waiting {
                    one_pass* pass;
                    one_pass::worker* w;
                } context{&pass, &w};
                const row_source rows{[](void* c, std::uint32_t wanted) {
                                          auto* at = static_cast<waiting*>(c);
                                          return at->pass->work(*at->w, nullptr, wanted);
                                      },
                                      &context};
                problem = write_png(file, o.output, out, o.png_compression, rows);
            }
            // Whatever is left (the writer stops early on a write error).
            pass.work(w, nullptr);
            pass.keep_worst(t, w);
        });
    }
    if (!unread.empty()) {
        return unread;
    }
    if (pass.failure() != status::ok) {
        return std::string(o.apply) + ": " + describe(pass.failure());
    }
    const error_sums sums = pass.sums();
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
