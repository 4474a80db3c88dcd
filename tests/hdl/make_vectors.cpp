// SPDX-License-Identifier: MIT
// Writes the test vectors the HDL co-simulations replay: for each core
// configuration CASE, CASE.cfg (N SHIFT P BORDER MAX_WIDTH CHANNELS ALPHA
// PPC taps...), CASE.vec (stray beats and frames, each frame with the outputs the golden
// model gives for it under the cores' frame protocol: records "stray K" and
// "frame W H K", K counting beats, then one beat a line in fixed-width hex:
// PPC pixels, pixel 0 in the low bits, each pixel's channels side by side,
// channel 0 lowest; nothing else), CASE.notes (what each record is for, a
// line each), and CASE_fullrate.cfg/.vec/.period/.latency: equal frames back
// to back, the cycles each must take at full rate and the latency of its
// first beat. Everything comes from fixed seeds, so every platform writes the
// same bytes.
//
// Usage: tapsmith_make_vectors OUTDIR
#include <tapsmith/fixed.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace {

using namespace tapsmith;

// splitmix64: tiny, and the same sequence everywhere.
struct rng {
    std::uint64_t state;
    std::uint64_t next() noexcept {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15U);
        z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9U;
        z = (z ^ (z >> 27U)) * 0x94d049bb133111ebU;
        return z ^ (z >> 31U);
    }
};

struct config {  // NOLINT(clang-analyzer-optin.performance.Padding): fields in the order rows read
    const char* name;
    std::int32_t n;
    double sigma;
    std::int32_t bits;
    std::int32_t pixel_bits;
    border how;
    std::uint32_t channels;
    bool alpha;       // the last channel is alpha, which the core passes through
    std::size_t ppc;  // pixels a beat
};

// Few configurations, since each costs a simulator build; every one gets
// many frames. Together: each tap count, pixel width and border, the
// widest accumulator (16 + 2 * 24 = 64 bits), colour and colour with alpha,
// one pixel a beat; then 2, 4 and 8 pixels a beat for grey, colour and four
// channels, with a vertical reach of several beats (n = 15 at 2 pixels a beat), of one
// beat (n = 9 at 8) and of less than a beat (n = 3 at 8), and the widest beat
// (8 x 4 x 16 = 512 bits). Wide beats come last, so that the others keep their seeds.
constexpr config configs[] = {
    {"n1_p8_reflect101", 1, 1.0, 8, 8, border::reflect101, 1, false, 1},
    {"n3_p10_replicate", 3, 0.8, 10, 10, border::replicate, 1, false, 1},
    {"n5_p8_reflect101", 5, 1.0, 8, 8, border::reflect101, 1, false, 1},
    {"n5_p16_zero", 5, 1.1, 12, 16, border::zero, 1, false, 1},
    {"n9_p8_zero", 9, 1.5, 10, 8, border::zero, 1, false, 1},
    {"n9_p10_reflect101", 9, 1.6, 14, 10, border::reflect101, 1, false, 1},
    {"n15_p8_reflect101", 15, 2.5, 12, 8, border::reflect101, 1, false, 1},
    {"n15_p16_replicate", 15, 2.5, 24, 16, border::replicate, 1, false, 1},
    {"n5_p8_rgb_zero", 5, 1.2, 8, 8, border::zero, 3, false, 1},
    {"n3_p16_rgba_replicate", 3, 0.9, 12, 16, border::replicate, 4, true, 1},
    {"ppc2_n15_p8_reflect101", 15, 2.5, 12, 8, border::reflect101, 1, false, 2},
    {"ppc2_n9_p12_rgb_zero", 9, 1.5, 10, 12, border::zero, 3, false, 2},
    {"ppc2_n1_p10_rgba_replicate", 1, 1.0, 8, 10, border::replicate, 4, true, 2},
    {"ppc4_n5_p16_zero", 5, 1.1, 14, 16, border::zero, 1, false, 4},
    {"ppc4_n3_p10_rgb_reflect101", 3, 0.8, 10, 10, border::reflect101, 3, false, 4},
    {"ppc4_n7_p8_rgba_replicate", 7, 1.3, 10, 8, border::replicate, 4, true, 4},
    {"ppc8_n9_p10_replicate", 9, 1.6, 14, 10, border::replicate, 1, false, 8},
    {"ppc8_n3_p8_rgb_zero", 3, 0.9, 8, 8, border::zero, 3, false, 8},
    {"ppc8_n5_p16_4ch_reflect101", 5, 1.2, 12, 16, border::reflect101, 4, false, 8},
};

constexpr std::size_t max_width = 64;
constexpr std::size_t max_height = 48;

enum class pattern { ramp, checker, noise, bright_centre, bright_corner, full, count };

constexpr const char* pattern_names[] = {
    "ramp", "checkerboard", "noise", "bright centre pixel", "bright corner pixel", "all at the maximum"};

// Pixels in raster order, a pixel's channels side by side.
using image = std::vector<std::uint16_t>;

image make_plane(pattern what, std::size_t w, std::size_t h, std::uint32_t max, rng& r) {
    image img(w * h, 0);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            std::uint64_t v = 0;
            switch (what) {
                case pattern::ramp: {
                    const std::uint64_t span = std::max<std::uint64_t>(w + 2 * h - 3, 1);
                    v = (x + 2 * y) * std::uint64_t{max} / span;
                    break;
                }
                case pattern::checker:
                    v = ((x / 2 + y) & 1U) != 0 ? max : 0;
                    break;
                case pattern::noise:
                    v = r.next() & max;
                    break;
                case pattern::bright_centre:
                    v = x == w / 2 && y == h / 2 ? max : 0;
                    break;
                case pattern::bright_corner:
                    v = x == w - 1 && y == 0 ? max : 0;
                    break;
                case pattern::full:
                case pattern::count:
                    v = max;
                    break;
            }
            img[y * w + x] = static_cast<std::uint16_t>(v);
        }
    }
    return img;
}

// Channel c shows the pattern after `what` c places on, so that a core
// that mixed up its channels would show it.
image make_image(std::uint32_t channels, pattern what, std::size_t w, std::size_t h, std::uint32_t max,
                 rng& r) {
    if (channels == 1) {
        return make_plane(what, w, h, max, r);
    }
    image img(w * h * channels, 0);
    const auto patterns = static_cast<std::uint32_t>(pattern::count);
    for (std::uint32_t c = 0; c < channels; ++c) {
        const image plane =
            make_plane(static_cast<pattern>((static_cast<std::uint32_t>(what) + c) % patterns), w, h, max, r);
        for (std::size_t i = 0; i < plane.size(); ++i) {
            img[i * channels + c] = plane[i];
        }
    }
    return img;
}

struct writer {
    std::string text;
    std::size_t digits;  // of a beat in hex

    void number(std::uint64_t v) {
        char buf[24];
        const auto res = std::to_chars(buf, buf + sizeof buf, v);
        text.append(buf, res.ptr);
    }
    void line(std::string_view s) {
        text += s;
        text += '\n';
    }
};

struct vec_file {
    const config& cfg;
    const std::int64_t* taps;
    writer out;
    writer notes;  // what each record is for, a line each, in CASE.notes
    std::size_t frames = 0;
    std::size_t pixels = 0;

    // Beat b of `img` (its pixels b * ppc onwards, pixel 0 in the low bits, each pixel's channels
    // side by side, channel 0 lowest) in fixed-width hex, so that readers which insist on a
    // full-width field take every line. Digit by digit: a beat is up to 512 bits wide.
    void beat(const image& img, std::size_t b) {
        const auto bits = static_cast<std::size_t>(cfg.pixel_bits);
        const std::size_t values = cfg.ppc * cfg.channels;
        const std::uint16_t* first = img.data() + b * values;
        for (std::size_t d = out.digits; d-- > 0;) {
            unsigned v = 0;
            for (std::size_t bit = 4 * d + 4; bit-- > 4 * d;) {
                const std::size_t i = bit / bits;
                v = (v << 1U) | (i < values ? (first[i] >> (bit % bits)) & 1U : 0U);
            }
            out.text += "0123456789abcdef"[v];
        }
        out.text += '\n';
    }

    // Stray beats carry each value in every channel of every pixel.
    void stray(const std::vector<std::uint16_t>& values, std::string_view note) {
        notes.line(note);
        out.text += "stray ";
        out.number(values.size());
        out.text += '\n';
        for (const auto b : values) {
            beat(image(cfg.ppc * cfg.channels, b), 0);
        }
    }

    // A frame of w x h whose first k beats are sent (the pixels of `img`, then noise): fewer than
    // w * h / ppc are completed with zeros by the core, more are dropped. A frame the core refuses
    // (no pixels, wider than it takes, or a width not a multiple of ppc) has no outputs.
    bool frame(const image& img, std::size_t w, std::size_t h, std::size_t k, rng& r, std::string_view note) {
        notes.line(note);
        out.text += "frame ";
        out.number(w);
        out.text += ' ';
        out.number(h);
        out.text += ' ';
        out.number(k);
        out.text += '\n';
        const std::size_t ch = cfg.channels;
        const std::size_t values = cfg.ppc * ch;
        image seen(w * h * ch, 0);
        const auto max = static_cast<std::uint32_t>((1U << cfg.pixel_bits) - 1);
        for (std::size_t i = 0; i < k; ++i) {
            image sent(values, 0);
            for (std::size_t j = 0; j < values; ++j) {
                const std::size_t at = i * values + j;
                sent[j] = at < img.size() ? img[at] : static_cast<std::uint16_t>(r.next() & max);
                if (at < seen.size()) {
                    seen[at] = sent[j];
                }
            }
            beat(sent, 0);
        }
        if (w == 0 || h == 0 || w > max_width || w % cfg.ppc != 0) {
            return true;
        }
        image res(w * h * ch, 0);
        const status st =
            blur(seen.data(), res.data(), {w, h, ch}, {cfg.n, taps, cfg.bits, cfg.pixel_bits, cfg.how});
        if (st != status::ok) {
            (void)std::fprintf(stderr, "tapsmith_make_vectors: %s: %s\n", cfg.name, describe(st));
            return false;
        }
        if (cfg.alpha) {
            for (std::size_t i = 0; i < w * h; ++i) {
                res[i * ch + ch - 1] = seen[i * ch + ch - 1];
            }
        }
        for (std::size_t b = 0; b < w * h / cfg.ppc; ++b) {
            beat(res, b);
        }
        ++frames;
        pixels += w * h;
        return true;
    }
};

std::string describe_frame(std::size_t w, std::size_t h, std::string_view what) {
    writer d{{}, 0};
    d.number(w);
    d.text += 'x';
    d.number(h);
    d.text += ' ';
    d.text += what;
    return d.text;
}

bool write_file(const std::filesystem::path& path, const std::string& text) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (f == nullptr) {
        (void)std::fprintf(stderr, "tapsmith_make_vectors: cannot create %s\n", path.string().c_str());
        return false;
    }
    const bool wrote = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) {
        (void)std::fprintf(stderr, "tapsmith_make_vectors: cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

// The cores' stated latency at full rate: output beat k of a frame leaves this many cycles after
// input beat k + m*W/ppc + ceil(m/ppc) was taken (the rows below, then the beats that hold the
// columns to the right). Eleven register stages, plus one per level of the two adder trees, each
// summing a term per signed digit of the taps t_0 .. t_m (and the horizontal one the rounding
// constant).
std::uint64_t core_latency(const fixed_taps& taps, int n, int bits) {
    const auto ceil_log2 = [](std::uint64_t v) {
        std::uint64_t levels = 0;
        while ((std::uint64_t{1} << levels) < v) {
            ++levels;
        }
        return levels;
    };
    std::uint64_t terms = 0;
    for (int k = 0; k <= (n - 1) / 2; ++k) {
        terms += static_cast<std::uint64_t>(get_signed_digits(taps[static_cast<std::size_t>(k)]).count);
    }
    return 11 + ceil_log2(terms) + ceil_log2(terms + (bits > 0 ? 1 : 0));
}

// One step of the protocol sequence: stray beats (`values`), or a frame sent as w x h in k beats
// whose pixels are pattern `what` drawn at iw x ih.
struct step {
    std::vector<std::uint16_t> values;
    pattern what;
    std::size_t w, h, k, iw, ih;
    std::string note;
};

// The protocol cases, in order: the sequence matters, so each is followed by a good frame. k counts
// beats of q pixels. With q > 1 the same cases (cut short within a row and a beat before the end,
// extra beats, strays, refusals) come in rows of a few beats, one of them 2g + 1 beats (a beat's
// window reaching g beats to either side), and widths that are not a multiple of q are refused.
std::vector<step> protocol(std::size_t n, std::size_t q, std::size_t g, std::uint16_t max) {
    const auto frame = [](pattern what, std::size_t w, std::size_t h, std::size_t k,
                          std::string_view what_note) {
        return step{{}, what, w, h, k, w, h, describe_frame(w, h, what_note)};
    };
    const auto cut = [&](std::size_t w, std::size_t h, std::size_t k) {
        return frame(pattern::noise, w, h, k, "noise cut short: the core completes it with zeros");
    };
    const auto extra = [&](std::size_t w, std::size_t h, std::size_t k) {
        return frame(pattern::noise, w, h, k, "noise with extra beats, which are dropped");
    };
    const auto good = [&](std::size_t w, std::size_t h) {
        return frame(pattern::noise, w, h, w * h / q, "noise after a protocol case");
    };
    // A refused frame's pixels are only its k beats in a row.
    const auto refused = [&](std::size_t w, std::size_t h, std::size_t k) {
        return step{{}, pattern::noise, w, h, k, k * q, 1, describe_frame(w, h, "refused: no output")};
    };
    const auto stray = [](std::vector<std::uint16_t> values, std::string note) {
        return step{std::move(values), pattern::noise, 0, 0, 0, 0, 0, std::move(note)};
    };
    const std::vector<std::uint16_t> between = {max, 2, max, 0, 1, 5, 9};
    if (q == 1) {
        return {cut(9, 7, 30),
                good(11, 4),
                cut(max_width, 6, 1),
                good(11, 4),
                cut(n + 1, n + 2, (n + 1) * (n + 2) - 1),
                good(11, 4),
                cut(5, 5, 5),
                good(11, 4),
                frame(pattern::ramp, 6, 3, 10, "ramp cut short, then another cut short"),
                frame(pattern::full, 4, 4, 7, "full cut short"),
                good(3, 5),
                extra(8, 5, 8 * 5 + 7),
                good(7, 6),
                extra(1, 1, 4),
                good(7, 6),
                extra(max_width, 2, max_width * 3),
                good(7, 6),
                stray(between, "stray beats between complete frames"),
                good(13, 9),
                frame(pattern::checker, 5, 4, 23, "checkerboard with extra beats"),
                stray({7, 6, 5}, "stray beats after extra beats"),
                good(2, 3),
                refused(0, 3, 3),
                good(6, 5),
                refused(4, 0, 2),
                good(6, 5),
                refused(max_width + 1, 2, 5),
                good(6, 5)};
    }
    const std::size_t wide = 2 * g + 1;  // beats a row
    return {cut(3 * q, 7, 10),
            good(2 * q, 4),
            cut(max_width, 6, 1),
            good(2 * q, 4),
            cut(wide * q, n + 2, wide * (n + 2) - 1),
            good(2 * q, 4),
            cut(q, 5, 5 - 1),
            good(2 * q, 4),
            frame(pattern::ramp, 3 * q, 3, 4, "ramp cut short, then another cut short"),
            frame(pattern::full, 2 * q, 4, 3, "full cut short"),
            good(q, 5),
            extra(2 * q, 5, 2 * 5 + 7),
            good(3 * q, 6),
            extra(q, 1, 4),
            good(3 * q, 6),
            extra(max_width, 2, max_width / q * 3),
            good(3 * q, 6),
            stray(between, "stray beats between complete frames"),
            good(wide * q, 9),
            frame(pattern::checker, 2 * q, 4, 2 * 4 + 3, "checkerboard with extra beats"),
            stray({7, 6, 5}, "stray beats after extra beats"),
            good(q, 3),
            refused(0, 3, 3),
            good(2 * q, 5),
            refused(2 * q, 0, 2),
            good(2 * q, 5),
            refused(max_width + q, 2, 5),
            good(2 * q, 5),
            refused(max_width - 1, 2, 5),
            good(2 * q, 5),
            refused(q + 1, 2, 3),
            good(2 * q, 5),
            refused(q / 2, 3, 2),
            good(2 * q, 5)};
}

bool write_config(const config& cfg, std::uint64_t seed, const std::filesystem::path& dir,
                  std::size_t& frames, std::size_t& pixels) {
    fixed_taps taps{};
    if (get_fixed_taps(cfg.n, cfg.sigma, cfg.bits, sampling::point, taps) != status::ok) {
        (void)std::fprintf(stderr, "tapsmith_make_vectors: %s: no taps\n", cfg.name);
        return false;
    }
    const auto n = static_cast<std::size_t>(cfg.n);
    const std::size_t m = n / 2;
    const std::size_t q = cfg.ppc;
    const std::size_t g = (m + q - 1) / q;  // beats to the right a beat's window reaches

    writer c{{}, 0};
    c.number(static_cast<std::uint64_t>(cfg.n));
    for (const std::int64_t v :
         {std::int64_t{cfg.bits}, std::int64_t{cfg.pixel_bits}, std::int64_t{hdl_code(cfg.how)},
          static_cast<std::int64_t>(max_width), std::int64_t{cfg.channels}, std::int64_t{cfg.alpha ? 1 : 0},
          static_cast<std::int64_t>(q)}) {
        c.text += ' ';
        c.number(static_cast<std::uint64_t>(v));
    }
    for (std::size_t i = 0; i < n; ++i) {
        c.text += ' ';
        c.number(static_cast<std::uint64_t>(taps[i]));
    }
    c.text += '\n';

    rng r{seed};
    const auto max = static_cast<std::uint32_t>((1U << cfg.pixel_bits) - 1);
    vec_file v{cfg,
               taps.data(),
               {{}, (q * cfg.channels * static_cast<std::size_t>(cfg.pixel_bits) + 3) / 4},
               {{}, 0}};
    // Stray beats before the first frame are dropped.
    v.stray({1, static_cast<std::uint16_t>(max), 0, 3}, "stray beats before the first frame");

    // Sizes around the border: 1, 2, m, n and just past them, then the
    // largest the configuration takes, and some odd shapes. With several
    // pixels a beat, rows of 1, 2 and 3 beats and of 2g and 2g + 1 (a beat's
    // window reaching g beats to either side), each at heights 1, 2, m and n,
    // and fewer patterns a size and no full 64 x 48 frame: Icarus takes a
    // few milliseconds a beat of the wide cores.
    std::vector<std::pair<std::size_t, std::size_t>> sizes;
    auto patterns_a_size = static_cast<std::size_t>(pattern::count);
    if (q == 1) {
        sizes = {{1, 1},
                 {2, 1},
                 {1, 2},
                 {2, 2},
                 {m, m},
                 {n, n},
                 {m + 1, n + 1},
                 {n, 1},
                 {m + 1, m + 1},
                 {m + 1, 1},
                 {1, m + 1},
                 {1, n},
                 {m, 2},
                 {2, m},
                 {n + 2, 3},
                 {3, n + 3},
                 {max_width, 1},
                 {1, max_height},
                 {max_width, max_height},
                 {37, 23},
                 {max_width, 5},
                 {7, max_height}};
    } else {
        patterns_a_size = 2;
        for (const std::size_t beats : {std::size_t{1}, std::size_t{2}, std::size_t{3}, 2 * g, 2 * g + 1}) {
            for (const std::size_t h : {std::size_t{1}, std::size_t{2}, m, n}) {
                sizes.emplace_back(beats * q, h);
            }
        }
        for (const std::size_t h : {std::size_t{1}, std::size_t{2}, n, n + 3}) {
            sizes.emplace_back(max_width, h);
        }
        sizes.insert(sizes.end(), {{q, max_height}, {5 * q, n + 1}});
    }
    std::vector<std::pair<std::size_t, std::size_t>> unique;
    for (const auto& s : sizes) {
        if (s.first >= 1 && std::find(unique.begin(), unique.end(), s) == unique.end() && s.second >= 1) {
            unique.push_back(s);
        }
    }

    // The patterns in turn at every size; frames follow each other back to back.
    const auto patterns = static_cast<std::size_t>(pattern::count);
    std::size_t next = 0;
    for (const auto& [w, h] : unique) {
        for (std::size_t i = 0; i < patterns_a_size; ++i) {
            const std::size_t p = next++ % patterns;
            const auto what = static_cast<pattern>(p);
            const image img = make_image(cfg.channels, what, w, h, max, r);
            if (!v.frame(img, w, h, w * h / q, r, describe_frame(w, h, pattern_names[p]))) {
                return false;
            }
        }
    }

    for (const step& s : protocol(n, q, g, static_cast<std::uint16_t>(max))) {
        if (!s.values.empty()) {
            v.stray(s.values, s.note);
        } else if (!v.frame(make_image(cfg.channels, s.what, s.iw, s.ih, max, r), s.w, s.h, s.k, r, s.note)) {
            return false;
        }
    }

    // Equal frames back to back, for the bench's full-rate run: with neither
    // side stalling they must start exactly W x H / ppc cycles apart.
    const std::size_t run_w = q == 1 ? 37 : (37 / q + 1) * q;
    constexpr std::size_t run_h = 11;
    vec_file run{cfg, taps.data(), {{}, v.out.digits}, {{}, 0}};
    // Fewer with several pixels a beat: five intervals still check the period.
    const int run_frames = q == 1 ? 12 : 6;
    for (int f = 0; f < run_frames; ++f) {
        if (!run.frame(make_image(cfg.channels, pattern::noise, run_w, run_h, max, r), run_w, run_h,
                       run_w * run_h / q, r, describe_frame(run_w, run_h, "noise, back to back"))) {
            return false;
        }
    }
    writer period{{}, 0};
    period.number(run_w * run_h / q);
    period.text += '\n';
    writer latency{{}, 0};
    latency.number(core_latency(taps, cfg.n, cfg.bits));
    latency.text += '\n';

    frames += v.frames + run.frames;
    pixels += v.pixels + run.pixels;
    const std::string name = cfg.name;
    return write_file(dir / (name + ".cfg"), c.text) && write_file(dir / (name + ".vec"), v.out.text) &&
           write_file(dir / (name + ".notes"), v.notes.text) &&
           write_file(dir / (name + "_fullrate.cfg"), c.text) &&
           write_file(dir / (name + "_fullrate.vec"), run.out.text) &&
           write_file(dir / (name + "_fullrate.period"), period.text) &&
           write_file(dir / (name + "_fullrate.latency"), latency.text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        (void)std::fprintf(stderr, "usage: tapsmith_make_vectors OUTDIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        (void)std::fprintf(stderr, "tapsmith_make_vectors: cannot create %s: %s\n", argv[1],
                           ec.message().c_str());
        return 1;
    }
    std::size_t frames = 0;
    std::size_t pixels = 0;
    std::uint64_t seed = 0x7a95e1;
    for (const config& cfg : configs) {
        if (!write_config(cfg, seed++, dir, frames, pixels)) {
            return 1;
        }
    }
    std::printf("%zu configurations, %zu frames, %zu output pixels in %s\n", std::size(configs), frames,
                pixels, argv[1]);
    return 0;
}
