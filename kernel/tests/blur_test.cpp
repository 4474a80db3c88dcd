// SPDX-License-Identifier: MIT
// The filter against a direct 2-D evaluation of its definition (every
// output pixel summed over the whole n x n mask, with the border rule
// applied as written: reflections repeated one at a time), and against
// literal values where a hand calculation is short. In static builds the
// grid runs on every instruction set the filter was built for that this
// processor has.
#include <tapsmith/fixed.hpp>
#if TAPSMITH_TEST_EVERY_TARGET
#include <tapsmith/detail/blur_targets.hpp>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tapsmith;

struct rng {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15U);
        z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9U;
        z = (z ^ (z >> 27U)) * 0x94d049bb133111ebU;
        return z ^ (z >> 31U);
    }
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
};

// The border rule one step at a time; false for a zero-border pixel.
bool source_index(std::int64_t q, std::int64_t len, border how, std::int64_t& at) {
    if (how == border::zero && (q < 0 || q >= len)) {
        return false;
    }
    if (how == border::replicate) {
        q = std::clamp<std::int64_t>(q, 0, len - 1);
    }
    if (len == 1) {
        q = 0;
    }
    while (q < 0 || q >= len) {
        if (q < 0) {
            q = -q;
        }
        if (q >= len) {
            q = 2 * len - q - 2;
        }
    }
    at = q;
    return true;
}

// Below 2^(P + 2B) <= 2^64, so 64 unsigned bits hold every sum exactly.
template <typename Pixel>
std::vector<Pixel> direct(const std::vector<Pixel>& in, std::size_t w, std::size_t h, std::size_t c,
                          const std::vector<std::int64_t>& taps, std::int32_t bits, border how) {
    const auto n = static_cast<std::int64_t>(taps.size());
    const std::int64_t m = n / 2;
    std::vector<Pixel> out(in.size());
    for (std::int64_t y = 0; y < static_cast<std::int64_t>(h); ++y) {
        for (std::int64_t x = 0; x < static_cast<std::int64_t>(w); ++x) {
            for (std::size_t ch = 0; ch < c; ++ch) {
                std::uint64_t sum = 0;
                for (std::int64_t i = 0; i < n; ++i) {
                    for (std::int64_t j = 0; j < n; ++j) {
                        std::int64_t sy = 0;
                        std::int64_t sx = 0;
                        if (!source_index(y + i - m, static_cast<std::int64_t>(h), how, sy) ||
                            !source_index(x + j - m, static_cast<std::int64_t>(w), how, sx)) {
                            continue;
                        }
                        const auto p =
                            in[(static_cast<std::size_t>(sy) * w + static_cast<std::size_t>(sx)) * c + ch];
                        sum += static_cast<std::uint64_t>(taps[static_cast<std::size_t>(i)]) *
                               static_cast<std::uint64_t>(taps[static_cast<std::size_t>(j)]) * p;
                    }
                }
                const std::uint64_t half = std::uint64_t{1} << (2 * bits - 1);
                out[(static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)) * c + ch] =
                    static_cast<Pixel>((sum + half) >> (2 * bits));
            }
        }
    }
    return out;
}

// Taps summing to 2^bits, mirrored or not; small bits leave many of them 0.
std::vector<std::int64_t> random_taps(std::size_t n, std::int32_t bits, bool symmetric, rng& r) {
    const std::int64_t total = std::int64_t{1} << bits;
    std::vector<std::int64_t> weight(n);
    for (std::size_t i = 0; i < n; ++i) {
        weight[i] = static_cast<std::int64_t>(1 + r.below(1000));
        if (symmetric && i >= n / 2) {
            weight[i] = weight[n - 1 - i];
        }
    }
    std::int64_t all = 0;
    for (const auto v : weight) {
        all += v;
    }
    std::vector<std::int64_t> taps(n);
    std::int64_t used = 0;
    const std::size_t rest = symmetric ? n / 2 : n - 1;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == rest) {
            continue;
        }
        // Exact: total * weight stays below 2^30 * 1000 * 127.
        taps[i] = total * weight[i] / all;
        used += taps[i];
    }
    taps[rest] = total - used;
    return taps;
}

template <typename Pixel>
status call(const std::vector<Pixel>& in, std::vector<Pixel>& out, std::size_t w, std::size_t h,
            std::size_t c, const std::vector<std::int64_t>& taps, std::int32_t bits, std::int32_t pixel_bits,
            border how) {
    return blur(in.data(), out.data(), {w, h, c},
                {static_cast<std::int32_t>(taps.size()), taps.data(), bits, pixel_bits, how});
}

// ---- The grid: tap counts x borders x pixel and tap widths -------------------
struct grid_row {
    std::int32_t n;
    std::int32_t pixel_bits;
    std::int32_t bits;
    border how;
};

std::vector<grid_row> grid_rows() {
    // Each accumulator pair: P + B and P + 2B up to 16, 32 and 64 bits,
    // including the widest, 64; and 16 and 32 bits with taps of up to 8
    // bits (B = 4, 6, 8), whose sums may be split into bytes.
    struct widths {
        std::int32_t pixel_bits, bits;
    };
    const widths all_widths[] = {{1, 7},   {1, 30},  {8, 4},  {8, 8},   {4, 8},   {10, 6}, {8, 12},
                                 {10, 10}, {10, 20}, {16, 8}, {16, 16}, {16, 24}, {4, 30}};
    std::vector<grid_row> rows;
    for (const std::int32_t n : {1, 3, 5, 9, 15, 21}) {
        for (const border how : {border::reflect101, border::replicate, border::zero}) {
            for (const widths& wb : all_widths) {
                rows.push_back({n, wb.pixel_bits, wb.bits, how});
            }
        }
    }
    return rows;
}

// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
void PrintTo(const grid_row& row, std::ostream* os) {
    *os << "n " << row.n << ", P " << row.pixel_bits << ", B " << row.bits << ", " << border_name(row.how);
}

class blur_grid : public ::testing::TestWithParam<grid_row> {};

template <typename Pixel>
void check_image(const grid_row& row, std::size_t w, std::size_t h, std::size_t c, bool all_max,
                 bool symmetric, rng& r) {
    const auto taps = random_taps(static_cast<std::size_t>(row.n), row.bits, symmetric, r);
    const std::uint64_t max = (std::uint64_t{1} << row.pixel_bits) - 1;
    std::vector<Pixel> in(w * h * c);
    for (auto& p : in) {
        p = static_cast<Pixel>(all_max || r.below(8) == 0 ? max : r.below(max + 1));
    }
    const std::vector<Pixel> want = direct(in, w, h, c, taps, row.bits, row.how);
    std::vector<Pixel> out(in.size(), 0);
    ASSERT_EQ(call(in, out, w, h, c, taps, row.bits, row.pixel_bits, row.how), status::ok);
    EXPECT_EQ(out, want);
#if TAPSMITH_TEST_EVERY_TARGET
    const blur_options o{row.n, taps.data(), row.bits, row.pixel_bits, row.how};
    for (std::size_t t = 0; t < detail::blur_target_count(); ++t) {
        SCOPED_TRACE(detail::blur_target_name(t));
        std::fill(out.begin(), out.end(), Pixel{0});
        ASSERT_EQ(detail::blur_on_target(t, in.data(), out.data(), {w, h, c}, o), status::ok);
        EXPECT_EQ(out, want);
    }
#endif
}

TEST_P(blur_grid, matches_direct_sum) {
    const grid_row& row = GetParam();
    const auto n = static_cast<std::size_t>(row.n);
    const std::size_t m = n / 2;
    std::vector<std::size_t> sides = {1, 2, m, n, n + 2};
    std::sort(sides.begin(), sides.end());
    sides.erase(std::unique(sides.begin(), sides.end()), sides.end());
    sides.erase(std::remove(sides.begin(), sides.end(), std::size_t{0}), sides.end());
    std::vector<std::pair<std::size_t, std::size_t>> sizes;
    for (const auto w : sides) {
        for (const auto h : sides) {
            sizes.emplace_back(w, h);
        }
    }
    sizes.emplace_back(2 * n + 3, n + 4);
    sizes.emplace_back(141, 3);  // long enough for the widest vectors' loop bodies

    rng r{static_cast<std::uint64_t>(row.n * 1000 + row.pixel_bits * 40 + row.bits) +
          static_cast<std::uint64_t>(row.how) * 100000};
    std::size_t index = 0;
    for (const auto& [w, h] : sizes) {
        for (const bool symmetric : {true, false}) {
            const std::size_t c = 1 + index % 4;
            const bool all_max = index % 7 == 3;
            ++index;
            SCOPED_TRACE(::testing::Message()
                         << w << "x" << h << "x" << c << (symmetric ? " symmetric" : " asymmetric")
                         << (all_max ? " all max" : ""));
            if (row.pixel_bits <= 8) {
                check_image<std::uint8_t>(row, w, h, c, all_max, symmetric, r);
            }
            check_image<std::uint16_t>(row, w, h, c, all_max, symmetric, r);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(all, blur_grid, ::testing::ValuesIn(grid_rows()),
                         [](const ::testing::TestParamInfo<grid_row>& p) {
                             const grid_row& g = p.param;
                             std::ostringstream name;
                             name << "n" << g.n << "_p" << g.pixel_bits << "_b" << g.bits << "_"
                                  << border_name(g.how);
                             return name.str();
                         });

// ---- Literal results ---------------------------------------------------------
struct literal_row {
    const char* name;
    std::size_t width, height;
    std::vector<std::int64_t> taps;
    std::int32_t bits, pixel_bits;
    border how;
    std::vector<std::uint16_t> in, expected;
};

// An impulse of 2^(2B) yields the mask itself, flipped in both directions
// (out(cx + m - j, cy + m - i) = t_i t_j): unflipped taps would be
// correlated the wrong way round.
const literal_row literal_rows[] = {
    {"impulse_asymmetric_3x3",
     3,
     3,
     {1, 1, 2},
     2,
     8,
     border::zero,
     {0, 0, 0, 0, 16, 0, 0, 0, 0},
     {4, 2, 2, 2, 1, 1, 2, 1, 1}},
    {"impulse_binomial_5x3",
     5,
     3,
     {1, 2, 1},
     2,
     8,
     border::zero,
     {0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0},
     {0, 1, 2, 1, 0, 0, 2, 4, 2, 0, 0, 1, 2, 1, 0}},
    // Half up: 8/16 rounds to 1, 6/16 and 12/16 to 0 and 1.
    {"half_up", 3, 1, {1, 2, 1}, 2, 8, border::zero, {0, 4, 0}, {1, 1, 1}},
    {"below_half", 3, 1, {1, 2, 1}, 2, 8, border::zero, {0, 3, 0}, {0, 1, 0}},
    // Width 2, n 5, taps 1 2 10 2 1: columns -2 .. 3 reflect to 0 1 0 1 0 1
    // and replicate to 0 0 0 1 1 1; a zero border keeps only the centre row
    // (10 of 16), so both outputs end on exactly one half.
    {"reflect101_twice_w2", 2, 1, {1, 2, 10, 2, 1}, 4, 8, border::reflect101, {0, 160}, {40, 120}},
    {"replicate_w2", 2, 1, {1, 2, 10, 2, 1}, 4, 8, border::replicate, {0, 160}, {30, 130}},
    {"zero_w2", 2, 1, {1, 2, 10, 2, 1}, 4, 8, border::zero, {0, 160}, {13, 63}},
    // A delta of 2^30 at the widest accumulator passes the image through.
    {"delta_p4_b30",
     3,
     2,
     {0, 1 << 30, 0},
     30,
     4,
     border::reflect101,
     {15, 0, 7, 1, 15, 15},
     {15, 0, 7, 1, 15, 15}},
};

// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
void PrintTo(const literal_row& row, std::ostream* os) {
    *os << row.name;
}

class blur_literal : public ::testing::TestWithParam<literal_row> {};

TEST_P(blur_literal, matches) {
    const literal_row& row = GetParam();
    std::vector<std::uint16_t> out(row.in.size(), 0xffff);
    ASSERT_EQ(call(row.in, out, row.width, row.height, 1, row.taps, row.bits, row.pixel_bits, row.how),
              status::ok);
    EXPECT_EQ(out, row.expected);
}

INSTANTIATE_TEST_SUITE_P(all, blur_literal, ::testing::ValuesIn(literal_rows),
                         [](const ::testing::TestParamInfo<literal_row>& p) { return p.param.name; });

// The whole mask, for every tap count, with P = 16 and B = 7: an impulse of
// 2^14 at the centre of a zero image gives t_i t_j exactly, with no rounding.
TEST(blur_impulse, reproduces_mask) {
    rng r{42};
    for (const std::size_t n : {1U, 3U, 5U, 9U, 15U, 31U}) {
        for (const border how : {border::reflect101, border::replicate, border::zero}) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " " << border_name(how));
            const auto taps = random_taps(n, 7, false, r);
            const std::size_t side = 2 * n + 1;
            const std::size_t centre = side / 2;
            std::vector<std::uint16_t> in(side * side, 0);
            in[centre * side + centre] = 1U << 14U;
            std::vector<std::uint16_t> out(in.size(), 0xffff);
            ASSERT_EQ(call(in, out, side, side, 1, taps, 7, 16, how), status::ok);
            const std::size_t m = n / 2;
            for (std::size_t y = 0; y < side; ++y) {
                for (std::size_t x = 0; x < side; ++x) {
                    const bool inside =
                        x + m >= centre && x <= centre + m && y + m >= centre && y <= centre + m;
                    const std::int64_t want = inside ? taps[centre + m - y] * taps[centre + m - x] : 0;
                    EXPECT_EQ(out[y * side + x], want) << "at " << x << "," << y;
                }
            }
        }
    }
}

// ---- Sides at the limits -----------------------------------------------------
TEST(blur_limits, longest_lines_and_taps) {
    struct row {
        std::size_t w, h, n;
        border how;
    };
    rng r{7};
    for (const row& s : {row{65535, 1, 3, border::reflect101}, row{1, 65535, 5, border::replicate},
                         row{65535, 2, 5, border::zero}, row{13, 9, 127, border::reflect101},
                         row{130, 3, 127, border::zero}}) {
        SCOPED_TRACE(::testing::Message() << s.w << "x" << s.h << " n " << s.n);
        const auto taps = random_taps(s.n, 20, true, r);
        std::vector<std::uint16_t> in(s.w * s.h);
        for (auto& p : in) {
            p = static_cast<std::uint16_t>(r.below(4096));
        }
        std::vector<std::uint16_t> out(in.size(), 0);
        ASSERT_EQ(call(in, out, s.w, s.h, 1, taps, 20, 12, s.how), status::ok);
        EXPECT_EQ(out, direct(in, s.w, s.h, 1, taps, 20, s.how));
    }
}

// ---- Threads: every count gives the one-thread output --------------------------
// Odd sides, so that bands split unevenly; n above the height makes every
// band read rows across the whole image. The one-thread result is itself
// checked against the direct sum.
TEST(blur_threads, every_count_gives_the_same_output) {
    struct row {
        std::size_t w, h, c, n;
        std::int32_t pixel_bits, bits;
        border how;
    };
    const row rows[] = {
        {37, 23, 1, 5, 8, 8, border::reflect101}, {19, 11, 3, 9, 8, 6, border::replicate},
        {13, 7, 4, 15, 8, 10, border::zero},      {29, 5, 1, 11, 16, 12, border::reflect101},
        {15, 9, 3, 3, 12, 20, border::zero},      {11, 3, 4, 7, 16, 8, border::replicate},
    };
    rng r{99};
    for (const row& t : rows) {
        SCOPED_TRACE(::testing::Message() << t.w << "x" << t.h << "x" << t.c << " n " << t.n << " P "
                                          << t.pixel_bits << " " << border_name(t.how));
        const auto taps = random_taps(t.n, t.bits, true, r);
        std::vector<std::uint16_t> in(t.w * t.h * t.c);
        for (auto& p : in) {
            p = static_cast<std::uint16_t>(r.below(std::uint64_t{1} << t.pixel_bits));
        }
        const std::vector<std::uint16_t> want = direct(in, t.w, t.h, t.c, taps, t.bits, t.how);
        const std::vector<std::uint8_t> in8(in.begin(), in.end());
        for (const std::int32_t threads : {1, 2, 3, 7}) {
            SCOPED_TRACE(::testing::Message() << threads << " threads");
            blur_options o{static_cast<std::int32_t>(t.n), taps.data(), t.bits, t.pixel_bits, t.how};
            o.threads = threads;
            std::vector<std::uint16_t> out(in.size(), 0);
            ASSERT_EQ(blur(in.data(), out.data(), {t.w, t.h, t.c}, o), status::ok);
            EXPECT_EQ(out, want);
            if (t.pixel_bits <= 8) {
                std::vector<std::uint8_t> out8(in.size(), 0);
                ASSERT_EQ(blur(in8.data(), out8.data(), {t.w, t.h, t.c}, o), status::ok);
                EXPECT_EQ(out8, std::vector<std::uint8_t>(want.begin(), want.end()));
            }
        }
        // Band by band, of 1, 2, 3, ... rows: the same rows, into the whole
        // image or into a buffer of the band's rows alone.
        const blur_options o{static_cast<std::int32_t>(t.n), taps.data(), t.bits, t.pixel_bits, t.how};
        std::vector<std::uint16_t> bands(in.size(), 0);
        std::vector<std::uint16_t> joined;
        const std::size_t line = t.w * t.c;
        for (std::size_t top = 0, band = 1; top < t.h; ++band) {
            const std::size_t bottom = std::min(t.h, top + band);
            ASSERT_EQ(blur_rows(in.data(), bands.data(), {t.w, t.h, t.c}, o, top, bottom), status::ok);
            std::vector<std::uint16_t> alone((bottom - top) * line + 1, 0xabcd);
            ASSERT_EQ(blur_rows_to(in.data(), alone.data(), {t.w, t.h, t.c}, o, top, bottom), status::ok);
            EXPECT_EQ(alone.back(), 0xabcd) << "written past the band's rows";
            joined.insert(joined.end(), alone.begin(), alone.end() - 1);
            top = bottom;
        }
        EXPECT_EQ(bands, want);
        EXPECT_EQ(joined, want);
    }
}

// ---- Rows of the output alone ------------------------------------------------
// Rows outside the image are refused with out untouched; a pixel too large
// counts only in a row the output rows read (within m of them, 5 taps).
TEST(blur_rows, refuses_rows_outside_and_reads_only_its_rows) {
    const std::int64_t taps[] = {1, 4, 6, 4, 1};
    const blur_options o{5, taps, 4, 8, border::reflect101};
    const struct {
        const char* name;
        std::size_t top, bottom, bad_row;  // bad_row: where a pixel is 256, 99 for none
        status want;
    } rows[] = {{"empty", 3, 3, 99, status::bad_size},
                {"reversed", 4, 2, 99, status::bad_size},
                {"past the end", 8, 13, 99, status::bad_size},
                {"bottom 0", 0, 0, 99, status::bad_size},
                {"a bad pixel two rows above", 5, 7, 3, status::bad_pixel},
                {"a bad pixel three rows above", 5, 7, 2, status::ok},
                {"a bad pixel two rows below", 5, 7, 8, status::bad_pixel},
                {"a bad pixel three rows below", 5, 7, 9, status::ok}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<std::uint16_t> in(std::size_t{12} * 4, 7);
        if (r.bad_row < 12) {
            in[r.bad_row * 4 + 1] = 256;
        }
        std::vector<std::uint16_t> out(in.size(), 0xabcd);
        EXPECT_EQ(blur_rows(in.data(), out.data(), {4, 12, 1}, o, r.top, r.bottom), r.want);
        for (std::size_t y = 0; y < 12; ++y) {
            const bool written = r.want == status::ok && y >= r.top && y < r.bottom;
            EXPECT_EQ(out[y * 4], written ? 7 : 0xabcd) << "row " << y;
        }
    }
}

// ---- Every refusal, with out untouched -------------------------------------
struct status_row {
    const char* name;
    std::size_t width = 3, height = 3, channels = 1;
    std::vector<std::int64_t> taps = {1, 2, 1};
    std::int32_t bits = 2, pixel_bits = 8;
    std::uint16_t last_pixel = 0;
    bool null_in = false, null_out = false, null_taps = false;
    status want = status::ok;
};

status_row make(const char* name, status want) {
    status_row s;
    s.name = name;
    s.want = want;
    return s;
}

std::vector<status_row> status_rows() {
    std::vector<status_row> rows;
    auto add = [&](const char* name, status want, auto&& change) {
        status_row s = make(name, want);
        change(s);
        rows.push_back(s);
    };
    using st = status;
    add("width_0", st::bad_size, [](status_row& s) { s.width = 0; });
    add("width_65536", st::bad_size, [](status_row& s) { s.width = 65536; });
    add("height_0", st::bad_size, [](status_row& s) { s.height = 0; });
    add("height_65536", st::bad_size, [](status_row& s) { s.height = 65536; });
    add("channels_0", st::bad_size, [](status_row& s) { s.channels = 0; });
    add("channels_5", st::bad_size, [](status_row& s) { s.channels = 5; });
    add("null_in", st::bad_size, [](status_row& s) { s.null_in = true; });
    add("null_out", st::bad_size, [](status_row& s) { s.null_out = true; });
    add("n_even", st::bad_count, [](status_row& s) { s.taps = {1, 1, 1, 1}; });
    add("n_0", st::bad_count, [](status_row& s) { s.taps = {}; });
    add("n_129", st::bad_count, [](status_row& s) {
        s.taps.assign(129, 0);
        s.taps[64] = 4;
    });
    add("null_taps", st::bad_taps, [](status_row& s) { s.null_taps = true; });
    add("negative_tap", st::bad_taps, [](status_row& s) { s.taps = {-1, 6, -1}; });
    add("sum_below", st::bad_taps, [](status_row& s) { s.taps = {1, 1, 1}; });
    add("sum_above", st::bad_taps, [](status_row& s) { s.taps = {1, 3, 1}; });
    // Would wrap a 64-bit sum round to exactly 2^2.
    add("sum_wraps", st::bad_taps, [](status_row& s) { s.taps = {INT64_MAX, 6, INT64_MAX}; });
    add("pixel_bits_0", st::bad_bits, [](status_row& s) { s.pixel_bits = 0; });
    add("pixel_bits_17", st::bad_bits, [](status_row& s) { s.pixel_bits = 17; });
    add("bits_0", st::bad_bits, [](status_row& s) {
        s.bits = 0;
        s.taps = {0, 1, 0};
    });
    add("bits_31", st::bad_bits, [](status_row& s) {
        s.bits = 31;
        s.taps = {1 << 29, 1 << 30, 1 << 29};
    });
    add("p5_b30_is_65_bits", st::bad_bits, [](status_row& s) {
        s.bits = 30;
        s.pixel_bits = 5;
        s.taps = {1 << 28, 1 << 29, 1 << 28};
    });
    add("p4_b30_is_64_bits", st::ok, [](status_row& s) {
        s.bits = 30;
        s.pixel_bits = 4;
        s.taps = {1 << 28, 1 << 29, 1 << 28};
        s.last_pixel = 15;
    });
    add("pixel_256_of_8_bits", st::bad_pixel, [](status_row& s) { s.last_pixel = 256; });
    add("pixel_1024_of_10_bits", st::bad_pixel, [](status_row& s) {
        s.pixel_bits = 10;
        s.last_pixel = 1024;
    });
    add("pixel_2_of_1_bit", st::bad_pixel, [](status_row& s) {
        s.pixel_bits = 1;
        s.last_pixel = 2;
    });
    add("pixel_max_of_16_bits", st::ok, [](status_row& s) {
        s.pixel_bits = 16;
        s.last_pixel = 65535;
    });
    return rows;
}

// NOLINTNEXTLINE(readability-identifier-naming): the name GoogleTest looks for
void PrintTo(const status_row& row, std::ostream* os) {
    *os << row.name;
}

class blur_status_test : public ::testing::TestWithParam<status_row> {};

TEST_P(blur_status_test, refuses_before_writing) {
    const status_row& s = GetParam();
    // The sides may be out of range; the buffers stay small and valid.
    std::vector<std::uint16_t> in(27, 1);
    in[8] = s.last_pixel;  // the last of the usual 3 x 3 x 1
    std::vector<std::uint16_t> out(27, 0xabcd);
    const blur_options o{static_cast<std::int32_t>(s.taps.size()), s.null_taps ? nullptr : s.taps.data(),
                         s.bits, s.pixel_bits, border::reflect101};
    const status got = blur(s.null_in ? nullptr : in.data(), s.null_out ? nullptr : out.data(),
                            {s.width, s.height, s.channels}, o);
    EXPECT_EQ(got, s.want);
    if (s.want != status::ok) {
        EXPECT_EQ(out, std::vector<std::uint16_t>(27, 0xabcd));
    }
    // The 8-bit overload refuses the same, where its pixels can say it.
    if (s.last_pixel <= 255) {
        std::vector<std::uint8_t> in8(in.begin(), in.end());
        std::vector<std::uint8_t> out8(27, 0xab);
        EXPECT_EQ(blur(s.null_in ? nullptr : in8.data(), s.null_out ? nullptr : out8.data(),
                       {s.width, s.height, s.channels}, o),
                  s.want);
        if (s.want != status::ok) {
            EXPECT_EQ(out8, std::vector<std::uint8_t>(27, 0xab));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(all, blur_status_test, ::testing::ValuesIn(status_rows()),
                         [](const ::testing::TestParamInfo<status_row>& p) { return p.param.name; });

// Each status has its own lower-case message; one left out of describe
// would show "unknown status".
TEST(blur_describe, one_message_per_status) {
    const status all[] = {status::ok,        status::bad_count, status::bad_sigma,
                          status::bad_bits,  status::bad_taps,  status::bad_size,
                          status::bad_pixel, status::none_fits, status::out_of_memory};
    std::vector<std::string> seen;
    for (const status s : all) {
        const std::string text = describe(s);
        SCOPED_TRACE(text);
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text, "unknown status");
        EXPECT_EQ(std::count_if(text.begin(), text.end(), [](char ch) { return ch >= 'A' && ch <= 'Z'; }), 0);
        EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end());
        seen.push_back(text);
    }
}

}  // namespace

namespace {

// The HDL cores take BORDER as 0 reflect101, 1 replicate, 2 zero; the
// vectors, the packages and the options all go through this one table.
TEST(borders, hdl_codes_names_and_parsing) {
    const struct {
        border how;
        std::int32_t code;
        const char* name;
    } rows[] = {{border::reflect101, 0, "reflect101"},
                {border::replicate, 1, "replicate"},
                {border::zero, 2, "zero"}};
    ASSERT_EQ(std::size(rows), borders.size());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(hdl_code(row.how), row.code);
        EXPECT_EQ(border_name(row.how), row.name);
        border parsed = border::zero == row.how ? border::reflect101 : border::zero;
        EXPECT_TRUE(find_border(row.name, parsed));
        EXPECT_EQ(parsed, row.how);
    }
    for (const char* text : {"", "Zero", "reflect", "reflect101 ", "wrap"}) {
        SCOPED_TRACE(text);
        border untouched = border::replicate;
        EXPECT_FALSE(find_border(text, untouched));
        EXPECT_EQ(untouched, border::replicate);
    }
}

// Where an index outside a line reads, worked by hand: reflect101 on a line
// of 3 runs ... 0 1 2 1 | 0 1 2 | 1 0 1 2 ...
TEST(borders, index_mapping) {
    const struct {
        border how;
        std::int64_t length;
        std::vector<std::int64_t> from;  // q = -4 .. 6
    } rows[] = {
        {border::reflect101, 3, {0, 1, 2, 1, 0, 1, 2, 1, 0, 1, 2}},
        {border::reflect101, 5, {4, 3, 2, 1, 0, 1, 2, 3, 4, 3, 2}},
        {border::reflect101, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {border::reflect101, 2, {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}},
        {border::replicate, 3, {0, 0, 0, 0, 0, 1, 2, 2, 2, 2, 2}},
        {border::zero, 3, {-1, -1, -1, -1, 0, 1, 2, -1, -1, -1, -1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << border_name(row.how) << ", length " << row.length);
        for (std::int64_t q = -4; q <= 6; ++q) {
            EXPECT_EQ(border_index(q, row.length, row.how), row.from[static_cast<std::size_t>(q + 4)])
                << "q " << q;
        }
    }
}

}  // namespace
