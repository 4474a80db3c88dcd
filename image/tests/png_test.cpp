// SPDX-License-Identifier: MIT
// The PNG files here are made byte by byte by a small encoder of the test's
// own (stored deflate blocks, CRC-32 and Adler-32 by their definitions,
// Adam7 by its pass table), so the reader is checked against the format,
// not against libpng's writer, and bad files can be made to measure.
#include <tapsmith/image/png.hpp>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr int grey = 0;
constexpr int rgb = 2;
constexpr int palette = 3;
constexpr int grey_alpha = 4;
constexpr int rgba = 6;

std::uint32_t crc32(const bytes& data, std::size_t from) {
    std::uint32_t crc = 0xffffffff;
    for (std::size_t i = from; i < data.size(); ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xedb88320 : crc >> 1;
        }
    }
    return ~crc;
}

void put32(bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

bytes chunk(const char* type, const bytes& data) {
    bytes out;
    put32(out, static_cast<std::uint32_t>(data.size()));
    bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put32(out, crc32(body, 0));
    return out;
}

// A zlib stream of stored (uncompressed) deflate blocks.
bytes zlib_stored(const bytes& raw) {
    bytes out{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        out.push_back(at + n == raw.size() ? 1 : 0);
        const auto len = static_cast<std::uint16_t>(n);
        const auto nlen = static_cast<std::uint16_t>(~len);
        out.insert(out.end(), {static_cast<std::uint8_t>(len & 0xff), static_cast<std::uint8_t>(len >> 8),
                               static_cast<std::uint8_t>(nlen & 0xff), static_cast<std::uint8_t>(nlen >> 8)});
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                   raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32(out, b << 16 | a);
    return out;
}

bytes ihdr(std::uint32_t width, std::uint32_t height, int depth, int color_type, bool interlaced = false) {
    bytes data;
    put32(data, width);
    put32(data, height);
    data.insert(data.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(color_type), 0, 0,
                             static_cast<std::uint8_t>(interlaced ? 1 : 0)});
    return chunk("IHDR", data);
}

bytes png_of(const std::vector<bytes>& chunks) {
    bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const bytes& c : chunks) {
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

std::uint32_t samples_per_pixel(int color_type) {
    switch (color_type) {
        case grey_alpha:
            return 2;
        case rgb:
            return 3;
        case rgba:
            return 4;
        default:
            return 1;
    }
}

// An image as the file holds it: samples (palette indexes for a palette
// image) at the file's depth.
struct png_layout {
    std::uint32_t width;
    std::uint32_t height;
    int depth;
    int color_type;
    bool interlaced;
    std::vector<std::uint16_t> samples;
    bytes plte;  // RGB triples
    bytes trns;  // the tRNS chunk's data, none if empty
};

// The scanlines of the pixels at (x0 + i dx, y0 + j dy), each with filter
// byte 0, samples packed most significant bits first.
void add_scanlines(const png_layout& layout, std::uint32_t x0, std::uint32_t y0, std::uint32_t dx,
                   std::uint32_t dy, bytes& raw) {
    const std::uint32_t spp = samples_per_pixel(layout.color_type);
    for (std::uint32_t y = y0; y < layout.height; y += dy) {
        if (x0 >= layout.width) {
            return;
        }
        raw.push_back(0);
        std::uint32_t bits = 0;
        std::uint32_t acc = 0;
        for (std::uint32_t x = x0; x < layout.width; x += dx) {
            for (std::uint32_t c = 0; c < spp; ++c) {
                const std::uint16_t v = layout.samples[(std::size_t{y} * layout.width + x) * spp + c];
                if (layout.depth == 16) {
                    raw.insert(raw.end(),
                               {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xff)});
                } else {
                    acc = acc << layout.depth | v;
                    bits += static_cast<std::uint32_t>(layout.depth);
                    if (bits == 8) {
                        raw.push_back(static_cast<std::uint8_t>(acc));
                        acc = bits = 0;
                    }
                }
            }
        }
        if (bits != 0) {
            raw.push_back(static_cast<std::uint8_t>(acc << (8 - bits)));
        }
    }
}

bytes raw_data(const png_layout& layout) {
    bytes raw;
    if (!layout.interlaced) {
        add_scanlines(layout, 0, 0, 1, 1, raw);
        return raw;
    }
    static constexpr std::uint32_t adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& pass : adam7) {
        add_scanlines(layout, pass[0], pass[1], pass[2], pass[3], raw);
    }
    return raw;
}

bytes encode(const png_layout& layout) {
    std::vector<bytes> chunks{
        ihdr(layout.width, layout.height, layout.depth, layout.color_type, layout.interlaced)};
    if (!layout.plte.empty()) {
        chunks.push_back(chunk("PLTE", layout.plte));
    }
    if (!layout.trns.empty()) {
        chunks.push_back(chunk("tRNS", layout.trns));
    }
    chunks.push_back(chunk("IDAT", zlib_stored(raw_data(layout))));
    chunks.push_back(chunk("IEND", {}));
    return png_of(chunks);
}

// A spread of values with the extremes first.
std::vector<std::uint16_t> pattern(std::size_t count, int depth, std::uint32_t modulus = 0) {
    const std::uint32_t top = modulus != 0 ? modulus : 1u << depth;
    std::vector<std::uint16_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t v = i == 0 ? top - 1 : i == 1 ? 0 : (i * 40503u + 0x1234u) % top;
        out[i] = static_cast<std::uint16_t>(v);
    }
    return out;
}

struct expected_image {
    std::uint32_t channels;
    int alpha;
    std::uint32_t depth;
    std::vector<std::uint16_t> samples;
};

// What reading must give, by the rules the header states: low grey depths
// scaled to 8 bits, palette entries looked up, tRNS as an alpha channel.
expected_image reference(const png_layout& layout) {
    const std::uint32_t spp = samples_per_pixel(layout.color_type);
    const bool keyed = !layout.trns.empty() && layout.color_type != palette;
    const std::uint32_t depth = layout.depth == 16 ? 16 : 8;
    const std::uint32_t top = (1u << depth) - 1;
    expected_image out{};
    out.depth = depth;
    if (layout.color_type == palette) {
        out.channels = layout.trns.empty() ? 3 : 4;
    } else {
        out.channels = spp + (keyed ? 1 : 0);
    }
    out.alpha = out.channels == 2 ? 1 : out.channels == 4 ? 3 : -1;
    for (std::size_t p = 0; p < std::size_t{layout.width} * layout.height; ++p) {
        const std::uint16_t* in = &layout.samples[p * spp];
        if (layout.color_type == palette) {
            for (std::size_t c = 0; c < 3; ++c) {
                out.samples.push_back(layout.plte[std::size_t{in[0]} * 3 + c]);
            }
            if (!layout.trns.empty()) {
                out.samples.push_back(in[0] < layout.trns.size() ? layout.trns[in[0]] : 255);
            }
            continue;
        }
        bool is_key = keyed;
        for (std::size_t c = 0; c < spp; ++c) {
            const std::uint32_t v = in[c];
            out.samples.push_back(static_cast<std::uint16_t>(v * top / ((1u << layout.depth) - 1)));
            if (keyed && (layout.trns[2 * c] << 8 | layout.trns[2 * c + 1]) != static_cast<int>(v)) {
                is_key = false;
            }
        }
        if (keyed) {
            out.samples.push_back(static_cast<std::uint16_t>(is_key ? 0 : top));
        }
    }
    return out;
}

void save(const fs::path& path, const bytes& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bytes load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint16_t> samples_of(const tapsmith::image& img) {
    std::vector<std::uint16_t> out(tapsmith::sample_count(img));
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = static_cast<std::uint16_t>(tapsmith::sample(img, k));
    }
    return out;
}

// The directory's file names and contents.
std::map<std::string, bytes> snapshot(const fs::path& dir) {
    std::map<std::string, bytes> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        out[entry.path().lexically_relative(dir).string()] =
            entry.is_regular_file() ? load(entry.path()) : bytes{};
    }
    return out;
}

// Chunk types in file order.
std::vector<std::string> chunk_types(const bytes& file) {
    std::vector<std::string> out;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 |
                                     std::uint32_t{file[at + 2]} << 8 | file[at + 3];
        out.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                         file.begin() + static_cast<std::ptrdiff_t>(at + 8));
        at += 12 + std::size_t{length};
    }
    return out;
}

class Png : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern_path = ::testing::TempDir() + "tapsmith_png_XXXXXX";
        ASSERT_NE(mkdtemp(pattern_path.data()), nullptr);
        dir = pattern_path;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }
    fs::path dir;
};

// Reads `file` from disk, from memory, and in two steps; each must give
// `want`. In two steps, the rows are told one by one, unless interlaced.
void expect_reads_as(const fs::path& where, const bytes& file, const expected_image& want) {
    save(where, file);
    for (const char* how : {"from a file", "from memory", "in two steps"}) {
        SCOPED_TRACE(how);
        tapsmith::image img;
        std::string error;
        std::vector<std::uint32_t> told;
        if (how[0] == 'f') {
            error = tapsmith::read_png(where.c_str(), img);
        } else if (how[0] == 'i') {
            tapsmith::png_reader reader;
            error = reader.open(file.data(), file.size(), "mem.png", img);
            ASSERT_EQ(error, "");
            const tapsmith::row_sink sink{[](void* rows, std::uint32_t done) {
                                              static_cast<std::vector<std::uint32_t>*>(rows)->push_back(done);
                                          },
                                          &told};
            error = reader.read_rows(sink);
            std::vector<std::uint32_t> rows;
            for (std::uint32_t y = 1; file[28] == 0 && y <= img.height; ++y) {
                rows.push_back(y);
            }
            EXPECT_EQ(told, rows);
        } else {
            error = tapsmith::read_png(file.data(), file.size(), "mem.png", img);
        }
        ASSERT_EQ(error, "");
        EXPECT_EQ(img.channels, want.channels);
        EXPECT_EQ(img.alpha, want.alpha);
        EXPECT_EQ(img.bit_depth, want.depth);
        EXPECT_EQ(samples_of(img), want.samples);
    }
}

// Values written out literally.
TEST_F(Png, ReadsExactValues) {
    const bytes plte{10, 20, 30, 40, 50, 60, 70, 80, 90};
    struct row {
        const char* name;
        png_layout file;
        expected_image want;
    };
    const row rows[] = {
        {"16-bit grey as stored",
         {4, 1, 16, grey, false, {0x1234, 0xffff, 0x0001, 0xff00}, {}, {}},
         {1, -1, 16, {0x1234, 0xffff, 0x0001, 0xff00}}},
        {"16-bit RGBA as stored",
         {1, 1, 16, rgba, false, {0x1234, 0xabcd, 0x0000, 0x00ff}, {}, {}},
         {4, 3, 16, {0x1234, 0xabcd, 0x0000, 0x00ff}}},
        {"8-bit grey+alpha",
         {2, 1, 8, grey_alpha, false, {7, 200, 255, 0}, {}, {}},
         {2, 1, 8, {7, 200, 255, 0}}},
        {"1-bit grey", {3, 1, 1, grey, false, {1, 0, 1}, {}, {}}, {1, -1, 8, {255, 0, 255}}},
        {"2-bit grey", {4, 1, 2, grey, false, {0, 1, 2, 3}, {}, {}}, {1, -1, 8, {0, 85, 170, 255}}},
        {"4-bit grey", {3, 1, 4, grey, false, {0, 1, 15}, {}, {}}, {1, -1, 8, {0, 17, 255}}},
        {"2-bit palette",
         {3, 1, 2, palette, false, {2, 0, 1}, plte, {}},
         {3, -1, 8, {70, 80, 90, 10, 20, 30, 40, 50, 60}}},
        {"palette with a shorter tRNS",
         {3, 1, 2, palette, false, {0, 1, 2}, plte, {0, 128}},
         {4, 3, 8, {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255}}},
        {"8-bit grey keyed", {2, 1, 8, grey, false, {5, 6}, {}, {0, 5}}, {2, 1, 8, {5, 0, 6, 255}}},
        {"2-bit grey keyed", {2, 1, 2, grey, false, {1, 3}, {}, {0, 1}}, {2, 1, 8, {85, 0, 255, 255}}},
        {"16-bit grey keyed",
         {2, 1, 16, grey, false, {0x1234, 0x1235}, {}, {0x12, 0x34}},
         {2, 1, 16, {0x1234, 0, 0x1235, 0xffff}}},
        {"8-bit RGB keyed",
         {2, 1, 8, rgb, false, {1, 2, 3, 1, 2, 4}, {}, {0, 1, 0, 2, 0, 3}},
         {4, 3, 8, {1, 2, 3, 0, 1, 2, 4, 255}}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        expect_reads_as(dir / "in.png", encode(r.file), r.want);
    }
}

struct kind {
    const char* name;
    int depth;
    int color_type;
    bool interlaced;
    bool with_trns;
};

// NOLINTNEXTLINE(readability-identifier-naming): GoogleTest's printer hook
void PrintTo(const kind& k, std::ostream* out) {
    *out << k.name;
}

class PngKinds : public Png, public ::testing::WithParamInterface<kind> {};

// Every kind, plain and interlaced, with expectations from reference().
// 9x7 reaches every Adam7 pass with rows of unequal lengths.
TEST_P(PngKinds, ReadsAsStored) {
    const kind k = GetParam();
    png_layout layout{9, 7, k.depth, k.color_type, k.interlaced, {}, {}, {}};
    const std::size_t count = std::size_t{layout.width} * layout.height * samples_per_pixel(k.color_type);
    if (k.color_type == palette) {
        const std::uint32_t entries = 1u << (k.depth < 4 ? k.depth : 3);
        layout.samples = pattern(count, k.depth, entries);
        for (std::uint32_t i = 0; i < entries * 3; ++i) {
            layout.plte.push_back(static_cast<std::uint8_t>(i * 37 + 11));
        }
        if (k.with_trns) {
            layout.trns = {0, 99, 255};
        }
    } else {
        layout.samples = pattern(count, k.depth);
        if (k.with_trns) {
            // The key is the second pixel, so that some alpha is 0.
            const std::uint32_t spp = samples_per_pixel(k.color_type);
            for (std::uint32_t c = 0; c < spp; ++c) {
                const std::uint16_t v = layout.samples[spp + c];
                layout.trns.insert(layout.trns.end(),
                                   {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xff)});
            }
        }
    }
    expect_reads_as(dir / "in.png", encode(layout), reference(layout));
}

INSTANTIATE_TEST_SUITE_P(
    All, PngKinds,
    ::testing::Values(
        kind{"grey1", 1, grey, false, false}, kind{"grey2", 2, grey, false, false},
        kind{"grey4", 4, grey, false, false}, kind{"grey8", 8, grey, false, false},
        kind{"grey16", 16, grey, false, false}, kind{"ga8", 8, grey_alpha, false, false},
        kind{"ga16", 16, grey_alpha, false, false}, kind{"rgb8", 8, rgb, false, false},
        kind{"rgb16", 16, rgb, false, false}, kind{"rgba8", 8, rgba, false, false},
        kind{"rgba16", 16, rgba, false, false}, kind{"palette1", 1, palette, false, false},
        kind{"palette2", 2, palette, false, false}, kind{"palette4", 4, palette, false, false},
        kind{"palette8", 8, palette, false, false}, kind{"palette4_trns", 4, palette, false, true},
        kind{"palette8_trns", 8, palette, false, true}, kind{"grey1_trns", 1, grey, false, true},
        kind{"grey4_trns", 4, grey, false, true}, kind{"grey8_trns", 8, grey, false, true},
        kind{"grey16_trns", 16, grey, false, true}, kind{"rgb8_trns", 8, rgb, false, true},
        kind{"rgb16_trns", 16, rgb, false, true}, kind{"grey1_adam7", 1, grey, true, false},
        kind{"grey8_adam7", 8, grey, true, false}, kind{"grey16_adam7", 16, grey, true, false},
        kind{"ga16_adam7", 16, grey_alpha, true, false}, kind{"rgb8_adam7", 8, rgb, true, false},
        kind{"rgba16_adam7", 16, rgba, true, false}, kind{"palette2_adam7", 2, palette, true, true},
        kind{"rgb16_trns_adam7", 16, rgb, true, true}),
    [](const ::testing::TestParamInfo<kind>& row) { return std::string(row.param.name); });

// Writing then reading gives the image back, in a file of the image's own
// colour type and depth with no chunk beyond IHDR, IDAT and IEND, and the
// same image always gives the same bytes.
TEST_F(Png, RoundTripsEveryKind) {
    const struct {
        std::uint32_t channels;
        std::uint32_t depth;
        std::uint8_t color_type;
    } rows[] = {{1, 8, grey},  {2, 8, grey_alpha},  {3, 8, rgb},  {4, 8, rgba},
                {1, 16, grey}, {2, 16, grey_alpha}, {3, 16, rgb}, {4, 16, rgba}};
    const fs::path target = dir / "out.png";
    save(target, {'o', 'l', 'd'});
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.channels) + " channels, " + std::to_string(r.depth) + " bits");
        tapsmith::image img;
        ASSERT_TRUE(tapsmith::make_image(img, 13, 5, r.channels, r.depth));
        const std::vector<std::uint16_t> values =
            pattern(tapsmith::sample_count(img), static_cast<int>(r.depth));
        for (std::size_t k = 0; k < values.size(); ++k) {
            tapsmith::set_sample(img, k, values[k]);
        }

        ASSERT_EQ(tapsmith::write_png(target.c_str(), img), "");
        const bytes first = load(target);
        ASSERT_GT(first.size(), 26u);
        EXPECT_EQ(first[24], r.depth);
        EXPECT_EQ(first[25], r.color_type);
        EXPECT_EQ(first[28], 0) << "interlace method";
        const std::vector<std::string> types = chunk_types(first);
        ASSERT_GE(types.size(), 3u);
        EXPECT_EQ(types.front(), "IHDR");
        EXPECT_EQ(types.back(), "IEND");
        EXPECT_EQ(std::set<std::string>(types.begin() + 1, types.end() - 1), std::set<std::string>{"IDAT"});

        tapsmith::image back;
        ASSERT_EQ(tapsmith::read_png(target.c_str(), back), "");
        EXPECT_EQ(back.width, 13u);
        EXPECT_EQ(back.height, 5u);
        EXPECT_EQ(back.channels, r.channels);
        EXPECT_EQ(back.alpha, img.alpha);
        EXPECT_EQ(back.bit_depth, r.depth);
        EXPECT_EQ(samples_of(back), values);

        ASSERT_EQ(tapsmith::write_png(target.c_str(), back), "");
        EXPECT_EQ(load(target), first);

        // Every compression gives the same pixels, in other bytes.
        bytes stored;
        for (const int level : {0, 1, 2, 6, 9}) {
            SCOPED_TRACE("compression " + std::to_string(level));
            ASSERT_EQ(tapsmith::write_png(target.c_str(), img, level), "");
            ASSERT_EQ(tapsmith::read_png(target.c_str(), back), "");
            EXPECT_EQ(samples_of(back), values);
            if (level == 0) {
                stored = load(target);
            } else {
                EXPECT_NE(load(target), stored);
            }
        }
    }
    EXPECT_EQ(snapshot(dir).size(), 1u) << "no temporary file left behind";
}

// An expanded low-depth or palette image goes back out as 8-bit grey, RGB
// or RGBA and reads back the same.
TEST_F(Png, ExpandedImagesWriteAsEightBits) {
    const struct {
        const char* name;
        png_layout file;
        std::uint8_t color_type;
    } rows[] = {
        {"palette", {3, 2, 4, palette, false, {0, 1, 2, 2, 1, 0}, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}}, rgb},
        {"interlaced palette with tRNS",
         {3, 2, 4, palette, true, {0, 1, 2, 2, 1, 0}, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {77}},
         rgba},
        {"2-bit grey", {3, 2, 2, grey, false, {0, 1, 2, 3, 2, 1}, {}, {}}, grey},
        {"4-bit grey keyed", {3, 2, 4, grey, false, {0, 1, 2, 3, 2, 1}, {}, {0, 2}}, grey_alpha},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const bytes file = encode(r.file);
        tapsmith::image img;
        ASSERT_EQ(tapsmith::read_png(file.data(), file.size(), "in.png", img), "");
        const fs::path target = dir / "out.png";
        ASSERT_EQ(tapsmith::write_png(target.c_str(), img), "");
        const bytes written = load(target);
        EXPECT_EQ(written[24], 8);
        EXPECT_EQ(written[25], r.color_type);
        expect_reads_as(dir / "again.png", written, reference(r.file));
    }
}

// Images of many bands, each band compressed on its own: written band by
// band in any order they give write_png's bytes, which libpng reads back
// as the image. Rows of more than one piece (a 16-bit row longer than the
// pieces the writer filters), a band of one row, a last band shorter than
// the rest, and bands of long runs as well as of noise.
TEST_F(Png, BandsJoinInAnyOrder) {
    const struct {
        const char* name;
        std::uint32_t width, height, channels, depth;
        bool runs;  // long runs of one value, or noise
    } rows[] = {
        {"grey 8, three bands", 1000, 700, 1, 8, false},
        {"RGBA 16, ten bands", 3000, 100, 4, 16, false},
        {"grey 16, rows of three pieces", 70000, 3, 1, 16, false},
        {"RGB 8, long runs", 512, 1024, 3, 8, true},
        {"grey+alpha 16, long runs", 900, 600, 2, 16, true},
    };
    const fs::path serial = dir / "serial.png";
    const fs::path shuffled = dir / "shuffled.png";
    for (const auto& r : rows) {
        tapsmith::image img;
        ASSERT_TRUE(tapsmith::make_image(img, r.width, r.height, r.channels, r.depth)) << r.name;
        std::uint32_t state = 7;
        const std::size_t line = std::size_t{r.width} * r.channels;
        for (std::size_t i = 0; i < tapsmith::sample_count(img); ++i) {
            state = state * 1103515245u + 12345u;
            const auto column = static_cast<std::uint32_t>(i % line / r.channels);
            tapsmith::set_sample(img, i,
                                 (r.runs ? column / 64 * 2311u + 5u : state >> 8) & ((1u << r.depth) - 1));
        }
        for (const int level : {0, 1}) {
            SCOPED_TRACE(std::string(r.name) + ", compression " + std::to_string(level));
            ASSERT_EQ(tapsmith::write_png(serial.c_str(), img, level), "");
            std::FILE* file = std::fopen(shuffled.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            {
                tapsmith::png_band_writer writer(file, "shuffled.png", img, level);
                ASSERT_GT(writer.bands(), 1u);
                EXPECT_EQ(writer.rows_needed(writer.bands() - 1), r.height);
                for (std::size_t b = writer.bands(); b-- > 0;) {
                    writer.write_band(b);
                }
                EXPECT_EQ(writer.finish(), "");
            }
            ASSERT_EQ(std::fclose(file), 0);
            EXPECT_TRUE(load(shuffled) == load(serial));
            tapsmith::image back;
            ASSERT_EQ(tapsmith::read_png(shuffled.c_str(), back), "");
            EXPECT_TRUE(samples_of(back) == samples_of(img));
        }
    }
}

bytes flipped(bytes file, std::size_t at) {
    file[at] ^= 0x01;
    return file;
}

bytes cut(const bytes& file, std::size_t size) {
    return {file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)};
}

// A chunk whose CRC is right for whatever it holds.
bytes idat_of(const bytes& raw) {
    return chunk("IDAT", zlib_stored(raw));
}

// A zlib stream in IDAT chunks of the given lengths, the rest in one more.
std::vector<bytes> idats(const bytes& stream, const std::vector<std::size_t>& lengths) {
    std::vector<bytes> out;
    std::size_t at = 0;
    for (const std::size_t n : lengths) {
        out.push_back(chunk("IDAT", {stream.begin() + static_cast<std::ptrdiff_t>(at),
                                     stream.begin() + static_cast<std::ptrdiff_t>(at + n)}));
        at += n;
    }
    out.push_back(chunk("IDAT", {stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end()}));
    return out;
}

bytes png_with(const bytes& head, const std::vector<bytes>& pixels, const std::vector<bytes>& after) {
    std::vector<bytes> chunks{head};
    chunks.insert(chunks.end(), pixels.begin(), pixels.end());
    chunks.insert(chunks.end(), after.begin(), after.end());
    return png_of(chunks);
}

// However the pixels' stream comes (chunks of one byte, empty ones, a first
// chunk longer than the whole stream stored would be, a wrong Adler-32,
// chunks after the pixels), the pixels are the file's.
TEST_F(Png, ReadsThePixelStreamHoweverItIsSplit) {
    const png_layout small{3, 2, 8, grey, false, {1, 2, 3, 4, 5, 6}, {}, {}};
    const png_layout large{300, 200, 16, rgb, false, pattern(std::size_t{300} * 200 * 3, 16), {}, {}};
    const bytes raw_small = raw_data(small);
    const bytes stored = zlib_stored(raw_small);
    bytes wrong_check = stored;
    wrong_check.back() ^= 0x01;
    // Three empty stored blocks first: 15 bytes more than the stream needs.
    bytes padded{0x78, 0x01, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0xff, 0xff};
    padded.insert(padded.end(), stored.begin() + 2, stored.end());
    const bytes end = chunk("IEND", {});
    const bytes text = chunk("tEXt", {'a', 0, 'b'});
    const bytes large_stream = zlib_stored(raw_data(large));
    struct row {
        const char* name;
        bytes file;
        const png_layout& want;
    };
    const row rows[] = {
        {"a byte a chunk",
         png_with(ihdr(3, 2, 8, grey), idats(stored, std::vector<std::size_t>(18, 1)), {end}), small},
        {"an empty chunk first", png_with(ihdr(3, 2, 8, grey), idats(stored, {0}), {end}), small},
        {"empty chunks between", png_with(ihdr(3, 2, 8, grey), idats(stored, {4, 0, 0, 9}), {end}), small},
        {"a first chunk longer than stored", png_with(ihdr(3, 2, 8, grey), idats(padded, {}), {end}), small},
        {"a wrong Adler-32", png_with(ihdr(3, 2, 8, grey), idats(wrong_check, {}), {end}), small},
        {"text after the pixels", png_with(ihdr(3, 2, 8, grey), idats(stored, {5}), {text, end}), small},
        {"six blocks in three chunks",
         png_with(ihdr(300, 200, 16, rgb), idats(large_stream, {70000, 200000}), {end}), large},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const fs::path path = dir / "in.png";
        save(path, r.file);
        tapsmith::image from_file;
        tapsmith::image from_memory;
        ASSERT_EQ(tapsmith::read_png(path.c_str(), from_file), "");
        ASSERT_EQ(tapsmith::read_png(r.file.data(), r.file.size(), "mem.png", from_memory), "");
        tapsmith::image want;
        ASSERT_EQ(tapsmith::read_png(encode(r.want).data(), encode(r.want).size(), "want.png", want), "");
        EXPECT_TRUE(samples_of(from_file) == samples_of(want));
        EXPECT_TRUE(samples_of(from_memory) == samples_of(want));
    }
}

// Every bad input, from a file and from memory: one line naming the input
// and saying what is wrong.
TEST_F(Png, RefusesBadInput) {
    const png_layout small{3, 2, 8, grey, false, {1, 2, 3, 4, 5, 6}, {}, {}};
    const bytes good = encode(small);  // IHDR at 8, its CRC at 29, IDAT at 33, IEND the last 12 bytes
    const bytes good_raw = raw_data(small);
    const bytes text_chunk = chunk("tEXt", {'a', 0, 'b'});
    const bytes with_text = png_of({ihdr(3, 2, 8, grey), text_chunk, idat_of(good_raw), chunk("IEND", {})});
    const bytes with_trns =
        png_of({ihdr(3, 2, 8, grey), chunk("tRNS", {0, 1}), idat_of(good_raw), chunk("IEND", {})});
    const bytes idat_end = {good.begin() + 33, good.end()};
    const bytes iend = chunk("IEND", {});
    const bytes split = png_with(ihdr(3, 2, 8, grey), idats(zlib_stored(good_raw), {6}), {iend});
    const std::string too_large_28 = "image too large (268435457 pixels, at most 268435456)";
    const std::string cannot_read = std::string("read error: ") + std::strerror(EISDIR);
    struct row {
        const char* name;
        bytes file;
        std::string message;  // after "NAME: "; a trailing '(' makes it a prefix
    };
    const row rows[] = {
        {"empty", {}, "not a PNG file"},
        {"text", {'h', 'e', 'l', 'l', 'o', '\n'}, "not a PNG file"},
        {"JPEG", {0xff, 0xd8, 0xff, 0xe0, 0, 0x10, 'J', 'F', 'I', 'F', 0}, "not a PNG file"},
        {"signature damaged", flipped(good, 1), "not a PNG file"},
        {"half a signature", cut(good, 4), "truncated"},
        {"signature only", cut(good, 8), "truncated"},
        {"inside IHDR", cut(good, 20), "truncated"},
        {"before IHDR's CRC", cut(good, 29), "truncated"},
        {"after IHDR", cut(good, 33), "truncated"},
        {"inside IDAT", cut(good, 45), "truncated"},
        {"no IEND", cut(good, good.size() - 12), "truncated"},
        {"tEXt claiming 2^30 bytes",
         png_of({ihdr(3, 2, 8, grey), {0x40, 0, 0, 0, 't', 'E', 'X', 't', 'a', 0}}), "truncated"},
        {"inside IEND's CRC", cut(good, good.size() - 2), "truncated"},
        {"IHDR CRC", flipped(good, 30), "CRC error in IHDR chunk"},
        {"IHDR width byte", flipped(good, 19), "CRC error in IHDR chunk"},
        {"IDAT CRC", flipped(good, good.size() - 13), "CRC error in IDAT chunk"},
        // Inflated without complaint (zlib's Adler-32 is not checked): the chunk's CRC sees it.
        {"IDAT pixel byte", flipped(good, 50), "CRC error in IDAT chunk"},
        {"IDAT block length", flipped(good, 45), "invalid PNG ("},
        {"IEND CRC", flipped(good, good.size() - 1), "CRC error in IEND chunk"},
        // Pixels in several chunks: given back to libpng as they were read.
        {"second IDAT's CRC", flipped(split, split.size() - 13), "CRC error in IDAT chunk"},
        {"one row short, in three IDATs",
         png_with(ihdr(3, 2, 8, grey), idats(zlib_stored(cut(good_raw, 4)), {3, 5}), {iend}),
         "invalid PNG ("},
        {"not zlib, in two IDATs",
         png_with(ihdr(3, 2, 8, grey), idats(bytes{1, 2, 3, 4, 5, 6, 7, 8}, {3}), {iend}), "invalid PNG ("},
        {"tEXt CRC after the pixels",
         png_with(ihdr(3, 2, 8, grey), {idat_of(good_raw)},
                  {flipped(text_chunk, text_chunk.size() - 1), iend}),
         "CRC error in tEXt chunk"},
        {"tEXt CRC", flipped(with_text, 33 + text_chunk.size() - 1), "CRC error in tEXt chunk"},
        {"tRNS CRC", flipped(with_trns, 33 + 12 + 2 - 1), "CRC error in tRNS chunk"},
        {"zero width", png_of({ihdr(0, 3, 8, grey), idat_of({0}), chunk("IEND", {})}),
         "image has no pixels (width 0, height 3)"},
        {"zero height", png_of({ihdr(3, 0, 8, grey), idat_of({0}), chunk("IEND", {})}),
         "image has no pixels (width 3, height 0)"},
        {"2^28 + 1 pixels", png_of({ihdr(17, 15790321, 8, grey), idat_end}), too_large_28},
        {"a row of 2^28 + 1", png_of({ihdr(268435457, 1, 8, grey), idat_end}), too_large_28},
        {"16385 x 16384", png_of({ihdr(16385, 16384, 16, rgba), idat_end}),
         "image too large (268451840 pixels, at most 268435456)"},
        {"width 2^31", png_of({ihdr(0x80000000u, 1, 8, grey), idat_end}),
         "image too large (2147483648 pixels, at most 268435456)"},
        {"RGB at 4 bits", png_of({ihdr(3, 2, 4, rgb), idat_of(good_raw), chunk("IEND", {})}),
         "invalid header ("},
        {"colour type 5", png_of({ihdr(3, 2, 8, 5), idat_of(good_raw), chunk("IEND", {})}),
         "invalid header ("},
        {"no IDAT", png_of({ihdr(3, 2, 8, grey), chunk("IEND", {})}), "invalid PNG ("},
        {"one row short", png_of({ihdr(3, 2, 8, grey), idat_of(cut(good_raw, 4)), chunk("IEND", {})}),
         "invalid PNG ("},
        {"not zlib",
         png_of({ihdr(3, 2, 8, grey), chunk("IDAT", {1, 2, 3, 4, 5, 6, 7, 8}), chunk("IEND", {})}),
         "invalid PNG ("},
        {"bad filter type",
         png_of({ihdr(3, 2, 8, grey), idat_of({9, 1, 2, 3, 0, 4, 5, 6}), chunk("IEND", {})}),
         "invalid PNG ("},
        {"IDAT before IHDR", png_of({idat_of(good_raw), ihdr(3, 2, 8, grey), chunk("IEND", {})}),
         "invalid PNG ("},
        {"palette without PLTE", png_of({ihdr(3, 2, 8, palette), idat_of(good_raw), chunk("IEND", {})}),
         "invalid PNG ("},
        {"palette index past PLTE",
         png_of({ihdr(3, 2, 8, palette), chunk("PLTE", {1, 2, 3, 4, 5, 6}), idat_of(good_raw),
                 chunk("IEND", {})}),
         "palette index beyond the palette"},
        // The samples run 1 .. 6: the last index is the palette's size, one past its end.
        {"palette index equal to the PLTE's size",
         png_of({ihdr(3, 2, 8, palette), chunk("PLTE", bytes(18, 7)), idat_of(good_raw), chunk("IEND", {})}),
         "palette index beyond the palette"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const fs::path path = dir / "in.png";
        save(path, r.file);
        for (const bool from_memory : {false, true}) {
            SCOPED_TRACE(from_memory ? "from memory" : "from a file");
            tapsmith::image img;
            img.width = 1;  // must be emptied on failure
            const std::string name = from_memory ? "mem.png" : path.string();
            const std::string error = from_memory
                                          ? tapsmith::read_png(r.file.data(), r.file.size(), "mem.png", img)
                                          : tapsmith::read_png(path.c_str(), img);
            const std::string want = name + ": " + r.message;
            if (r.message.back() == '(') {
                EXPECT_EQ(error.substr(0, want.size()), want) << error;
                EXPECT_EQ(error.back(), ')');
            } else {
                EXPECT_EQ(error, want);
            }
            EXPECT_EQ(error.find('\n'), std::string::npos);
            EXPECT_EQ(img.data, nullptr);
            EXPECT_EQ(img.width, 0u);
        }
    }

    tapsmith::image img;
    const std::string missing = (dir / "missing.png").string();
    EXPECT_EQ(tapsmith::read_png(missing.c_str(), img), missing + ": cannot open: " + std::strerror(ENOENT));
    EXPECT_EQ(tapsmith::read_png(dir.c_str(), img), dir.string() + ": " + cannot_read);
}

// The pixel limit holds at its edge, on either side of libpng's own
// per-dimension limit.
TEST_F(Png, PixelLimitIsInclusive) {
    const struct {
        std::uint32_t width;
        std::uint32_t height;
        std::uint64_t limit;
        const char* message;
    } rows[] = {{5, 3, 15, ""},
                {5, 3, 14, "mem.png: image too large (15 pixels, at most 14)"},
                {16, 1, 16, ""},
                {16, 1, 15, "mem.png: image too large (16 pixels, at most 15)"},
                {1, 16, 15, "mem.png: image too large (16 pixels, at most 15)"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.width) + "x" + std::to_string(r.height) + " at most " +
                     std::to_string(r.limit));
        const bytes file =
            encode({r.width, r.height, 8, grey, false, pattern(std::size_t{r.width} * r.height, 8), {}, {}});
        tapsmith::image img;
        EXPECT_EQ(tapsmith::read_png(file.data(), file.size(), "mem.png", img, r.limit), r.message);
    }
}

tapsmith::image noise(std::uint32_t side, std::uint32_t depth, std::uint32_t channels) {
    tapsmith::image img;
    if (!tapsmith::make_image(img, side, side, channels, depth)) {
        return img;
    }
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < tapsmith::sample_count(img); ++i) {
        state = state * 1103515245u + 12345u;
        tapsmith::set_sample(img, i, (state >> 8) & ((1u << depth) - 1));
    }
    return img;
}

// A write that fails leaves the directory as it was: no temporary file,
// an existing target untouched.
TEST_F(Png, FailedWritesLeaveNoTrace) {
    save(dir / "target.png", {'o', 'l', 'd'});
    save(dir / "file", {'f'});
    fs::create_directory(dir / "sub");
    struct row {
        const char* name;
        std::string target;  // relative to dir
        tapsmith::image img;
        std::string message;  // "@" stands for the target's path
        rlim_t size_limit = RLIM_INFINITY;
    };
    std::vector<row> rows;
    rows.push_back({"missing directory", "none/out.png", noise(4, 8, 1),
                    std::string("cannot create '@': ") + std::strerror(ENOENT)});
    rows.push_back({"parent is a file", "file/out.png", noise(4, 8, 1),
                    std::string("cannot create '@': ") + std::strerror(ENOTDIR)});
    rows.push_back({"target is a directory", "sub", noise(4, 8, 1), "cannot write '@': it is a directory"});
    rows.push_back(
        {"target names a directory", "sub/", noise(4, 8, 1), "cannot write '@': it is a directory"});
    rows.push_back({"file size limit while writing", "target.png", noise(64, 16, 4),
                    std::string("cannot write '@': ") + std::strerror(EFBIG), 4096});
    // Small enough to stay in the stream's buffer: the error comes only
    // when the file is closed.
    rows.push_back({"file size limit at the close", "target.png", noise(2, 8, 1),
                    std::string("cannot write '@': ") + std::strerror(EFBIG), 16});
    const struct {
        const char* name;
        std::uint32_t channels;
        int alpha;
        std::uint32_t depth;
        const char* why;
    } bad[] = {{"12 bits", 1, -1, 12, "bit depth neither 8 nor 16"},
               {"grey+alpha without alpha", 2, -1, 8, "alpha channel not the last of 2 or 4"},
               {"RGB with alpha", 3, 2, 8, "alpha channel not the last of 2 or 4"},
               {"5 channels", 5, -1, 8, "no pixels, more than 2^28, or channels outside 1..4"}};
    for (const auto& b : bad) {
        tapsmith::image img = noise(4, 8, b.channels < 5 ? b.channels : 4);
        img.channels = b.channels;
        img.alpha = b.alpha;
        img.bit_depth = b.depth;
        rows.push_back({b.name, "target.png", std::move(img),
                        std::string("cannot write '@': not an image it can write: ") + b.why});
    }
    tapsmith::image no_samples = noise(4, 8, 1);
    no_samples.data.reset();
    rows.push_back({"no samples", "target.png", std::move(no_samples),
                    "cannot write '@': not an image it can write: no samples"});
    tapsmith::image no_width = noise(4, 8, 1);
    no_width.width = 0;
    rows.push_back({"zero width", "target.png", std::move(no_width),
                    "cannot write '@': not an image it can write: no pixels, more than 2^28, or channels "
                    "outside 1..4"});
    if (geteuid() != 0) {
        fs::create_directory(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        rows.push_back({"read-only directory", "locked/out.png", noise(4, 8, 1),
                        std::string("cannot create '@': ") + std::strerror(EACCES)});
    }

    const auto before = snapshot(dir);
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string target = (dir / r.target).string();
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = r.size_limit;
        // Past the limit write() fails with EFBIG once SIGXFSZ, which would
        // end the test, is ignored.
        void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const std::string error = tapsmith::write_png(target.c_str(), r.img);
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        (void)std::signal(SIGXFSZ, old_handler);
        std::string want = r.message;
        want.replace(want.find('@'), 1, target);
        EXPECT_EQ(error, want);
        EXPECT_EQ(snapshot(dir), before);
    }
}

// The output gets the mode any new file would, not mkstemp's 0600.
TEST_F(Png, WrittenFileHasTheUsualMode) {
    const mode_t saved = umask(022);
    const fs::path target = dir / "out.png";
    const std::string error = tapsmith::write_png(target.c_str(), noise(3, 8, 3));
    umask(saved);
    ASSERT_EQ(error, "");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(PngShape, MakeImageRefusesWhatCannotBeHeld) {
    const struct {
        std::uint32_t width, height, channels, depth;
        bool ok;
        int alpha;
    } rows[] = {{1, 1, 1, 8, true, -1},          {2, 3, 2, 16, true, 1},         {7, 5, 4, 8, true, 3},
                {1, 1, 3, 16, true, -1},         {0, 1, 1, 8, false, -1},        {1, 0, 1, 8, false, -1},
                {1, 1, 0, 8, false, -1},         {1, 1, 5, 8, false, -1},        {1, 1, 1, 12, false, -1},
                {16385, 16384, 1, 8, false, -1}, {268435457, 1, 1, 8, false, -1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.width) + "x" + std::to_string(r.height) + "x" +
                     std::to_string(r.channels) + " at " + std::to_string(r.depth));
        tapsmith::image img;
        ASSERT_EQ(tapsmith::make_image(img, r.width, r.height, r.channels, r.depth), r.ok);
        EXPECT_EQ(img.data != nullptr, r.ok);
        if (r.ok) {
            EXPECT_EQ(tapsmith::sample_count(img), std::size_t{r.width} * r.height * r.channels);
            EXPECT_EQ(img.alpha, r.alpha);
            EXPECT_EQ(tapsmith::sample(img, 0), 0U);
        }
    }
}

}  // namespace
