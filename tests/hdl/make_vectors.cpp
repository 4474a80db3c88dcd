// SPDX-License-Identifier: MIT
// Writes the test vectors the HDL co-simulations replay: for each core
// configuration CASE, CASE.cfg (N SHIFT P BORDER MAX_WIDTH CHANNELS ALPHA
// taps...), CASE.vec (stray beats and frames, each frame with the outputs the golden
// model gives for it under the cores' frame protocol: records "stray K" and
// "frame W H K", then hexadecimal pixels, every channel of a pixel in one
// number, channel 0 in the low bits; nothing else), CASE.notes (what
// each record is for, a line each), and CASE_fullrate.cfg/.vec/.period/.latency: equal
// frames back to back, the cycles each must take at full rate and the
// latency of its first pixel. Everything
// comes from fixed seeds, so every platform writes the same bytes.
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
    bool alpha;  // the last channel is alpha, which the core passes through
};

// Few configurations, since each costs a simulator build; every one gets
// many frames. Together: each tap count, pixel width and border, the
// widest accumulator (16 + 2 * 24 = 64 bits), colour and colour with alpha
// (the widest beat, 4 x 16 bits).
constexpr config configs[] = {
    {"n1_p8_reflect101", 1, 1.0, 8, 8, border::reflect101, 1, false},
    {"n3_p10_replicate", 3, 0.8, 10, 10, border::replicate, 1, false},
    {"n5_p8_reflect101", 5, 1.0, 8, 8, border::reflect101, 1, false},
    {"n5_p16_zero", 5, 1.1, 12, 16, border::zero, 1, false},
    {"n9_p8_zero", 9, 1.5, 10, 8, border::zero, 1, false},
    {"n9_p10_reflect101", 9, 1.6, 14, 10, border::reflect101, 1, false},
    {"n15_p8_reflect101", 15, 2.5, 12, 8, border::reflect101, 1, false},
    {"n15_p16_replicate", 15, 2.5, 24, 16, border::replicate, 1, false},
    {"n5_p8_rgb_zero", 5, 1.2, 8, 8, border::zero, 3, false},
    {"n3_p16_rgba_replicate", 3, 0.9, 12, 16, border::replicate, 4, true},
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
    std::size_t digits;

    void number(std::uint64_t v) {
        char buf[24];
        const auto res = std::to_chars(buf, buf + sizeof buf, v);
        text.append(buf, res.ptr);
    }
    // Fixed-width hex, so that readers which insist on a full-width field
    // (VHDL's hread) take every line.
    void hex(std::uint64_t v) {
        char buf[16];
        const auto res = std::to_chars(buf, buf + sizeof buf, v, 16);
        const auto len = static_cast<std::size_t>(res.ptr - buf);
        text.append(digits > len ? digits - len : 0, '0');
        text.append(buf, res.ptr);
        text += '\n';
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

    // Pixel i of `img` as one beat: its channels side by side, channel 0 lowest.
    void beat(const image& img, std::size_t i) {
        std::uint64_t v = 0;
        for (std::uint32_t c = cfg.channels; c-- > 0;) {
            v = (v << static_cast<unsigned>(cfg.pixel_bits)) | img[i * cfg.channels + c];
        }
        out.hex(v);
    }

    // Stray beats carry each value in every channel.
    void stray(const std::vector<std::uint16_t>& values, std::string_view note) {
        notes.line(note);
        out.text += "stray ";
        out.number(values.size());
        out.text += '\n';
        for (const auto b : values) {
            beat(image(cfg.channels, b), 0);
        }
    }

    // A frame of w x h whose first k beats are sent: fewer are completed
    // with zeros by the core, more are dropped. A frame the core refuses
    // (no pixels, or wider than it takes) has no outputs.
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
        image seen(w * h * ch, 0);
        const auto max = static_cast<std::uint32_t>((1U << cfg.pixel_bits) - 1);
        for (std::size_t i = 0; i < k; ++i) {
            image sent(ch, 0);
            for (std::size_t c = 0; c < ch; ++c) {
                sent[c] = i * ch < img.size() ? img[i * ch + c] : static_cast<std::uint16_t>(r.next() & max);
                if (i < w * h) {
                    seen[i * ch + c] = sent[c];
                }
            }
            beat(sent, 0);
        }
        if (w == 0 || h == 0 || w > max_width) {
            return true;
        }
        image res(w * h * ch, 0);
        const status st =
            blur(seen.data(), res.data(), {w, h, ch}, {cfg.n, taps, cfg.bits, cfg.pixel_bits, cfg.how});
        if (st != status::ok) {
            (void)std::fprintf(stderr, "tapsmith_make_vectors: %s: %s\n", cfg.name, describe(st));
            return false;
        }
        for (std::size_t i = 0; i < w * h; ++i) {
            if (cfg.alpha) {
                res[i * ch + ch - 1] = seen[i * ch + ch - 1];
            }
            beat(res, i);
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
// input beat k + m*W + m was taken. Eleven register stages, plus one per level of the two adder
// trees, each summing a term per signed digit of the taps t_0 .. t_m (and the horizontal one the
// rounding constant).
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

bool write_config(const config& cfg, std::uint64_t seed, const std::filesystem::path& dir,
                  std::size_t& frames, std::size_t& pixels) {
    fixed_taps taps{};
    if (get_fixed_taps(cfg.n, cfg.sigma, cfg.bits, sampling::point, taps) != status::ok) {
        (void)std::fprintf(stderr, "tapsmith_make_vectors: %s: no taps\n", cfg.name);
        return false;
    }
    const auto n = static_cast<std::size_t>(cfg.n);
    const std::size_t m = n / 2;

    writer c{{}, 0};
    c.number(static_cast<std::uint64_t>(cfg.n));
    for (const std::int64_t v : {std::int64_t{cfg.bits}, std::int64_t{cfg.pixel_bits},
                                 std::int64_t{hdl_code(cfg.how)}, static_cast<std::int64_t>(max_width),
                                 std::int64_t{cfg.channels}, std::int64_t{cfg.alpha ? 1 : 0}}) {
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
    vec_file v{
        cfg, taps.data(), {{}, (cfg.channels * static_cast<std::size_t>(cfg.pixel_bits) + 3) / 4}, {{}, 0}};
    // Stray beats before the first frame are dropped.
    v.stray({1, static_cast<std::uint16_t>(max), 0, 3}, "stray beats before the first frame");

    // Sizes around the border: 1, 2, m, n and just past them, then the
    // largest the configuration takes, and some odd shapes.
    std::vector<std::pair<std::size_t, std::size_t>> sizes = {{1, 1},
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
    std::vector<std::pair<std::size_t, std::size_t>> unique;
    for (const auto& s : sizes) {
        if (s.first >= 1 && std::find(unique.begin(), unique.end(), s) == unique.end() && s.second >= 1) {
            unique.push_back(s);
        }
    }

    // Every pattern at every size; frames follow each other back to back.
    const auto patterns = static_cast<std::size_t>(pattern::count);
    for (const auto& [w, h] : unique) {
        for (std::size_t p = 0; p < patterns; ++p) {
            const auto what = static_cast<pattern>(p);
            const image img = make_image(cfg.channels, what, w, h, max, r);
            if (!v.frame(img, w, h, w * h, r, describe_frame(w, h, pattern_names[p]))) {
                return false;
            }
        }
    }

    // Protocol cases: the sequence matters, so each is followed by a good
    // frame.
    const auto good = [&](std::size_t w, std::size_t h) {
        return v.frame(make_image(cfg.channels, pattern::noise, w, h, max, r), w, h, w * h, r,
                       describe_frame(w, h, "noise after a protocol case"));
    };
    struct cut {
        std::size_t w, h, k;
    };
    for (const cut& s :
         {cut{9, 7, 30}, cut{max_width, 6, 1}, cut{n + 1, n + 2, (n + 1) * (n + 2) - 1}, cut{5, 5, 5}}) {
        if (!v.frame(make_image(cfg.channels, pattern::noise, s.w, s.h, max, r), s.w, s.h, s.k, r,
                     describe_frame(s.w, s.h, "noise cut short: the core completes it with zeros")) ||
            !good(11, 4)) {
            return false;
        }
    }
    if (!v.frame(make_image(cfg.channels, pattern::ramp, 6, 3, max, r), 6, 3, 10, r,
                 describe_frame(6, 3, "ramp cut short, then another cut short"))) {
        return false;
    }
    if (!v.frame(make_image(cfg.channels, pattern::full, 4, 4, max, r), 4, 4, 7, r,
                 describe_frame(4, 4, "full cut short")) ||
        !good(3, 5)) {
        return false;
    }
    for (const cut& s : {cut{8, 5, 8 * 5 + 7}, cut{1, 1, 4}, cut{max_width, 2, max_width * 3}}) {
        if (!v.frame(make_image(cfg.channels, pattern::noise, s.w, s.h, max, r), s.w, s.h, s.k, r,
                     describe_frame(s.w, s.h, "noise with extra beats, which are dropped")) ||
            !good(7, 6)) {
            return false;
        }
    }
    v.stray({static_cast<std::uint16_t>(max), 2, static_cast<std::uint16_t>(max), 0, 1, 5, 9},
            "stray beats between complete frames");
    if (!good(13, 9)) {
        return false;
    }
    if (!v.frame(make_image(cfg.channels, pattern::checker, 5, 4, max, r), 5, 4, 23, r,
                 "5x4 checkerboard with extra beats")) {
        return false;
    }
    v.stray({7, 6, 5}, "stray beats after extra beats");
    if (!good(2, 3)) {
        return false;
    }
    // Frames the core refuses give nothing, and what follows is a frame again.
    struct refused {
        std::size_t w, h, k;
    };
    for (const refused& s : {refused{0, 3, 3}, refused{4, 0, 2}, refused{max_width + 1, 2, 5}}) {
        if (!v.frame(make_image(cfg.channels, pattern::noise, s.k, 1, max, r), s.w, s.h, s.k, r,
                     describe_frame(s.w, s.h, "refused: no output")) ||
            !good(6, 5)) {
            return false;
        }
    }

    // Equal frames back to back, for the bench's full-rate run: with neither
    // side stalling they must start exactly W x H cycles apart.
    constexpr std::size_t run_w = 37;
    constexpr std::size_t run_h = 11;
    vec_file run{cfg, taps.data(), {{}, v.out.digits}, {{}, 0}};
    for (int f = 0; f < 12; ++f) {
        if (!run.frame(make_image(cfg.channels, pattern::noise, run_w, run_h, max, r), run_w, run_h,
                       run_w * run_h, r, describe_frame(run_w, run_h, "noise, back to back"))) {
            return false;
        }
    }
    writer period{{}, 0};
    period.number(run_w * run_h);
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
