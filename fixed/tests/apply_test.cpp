// SPDX-License-Identifier: MIT
// tapsmith-fixed --apply end to end, on PNG files the test writes: every
// kind keeps its kind, colour channels come out as the golden model
// filters them, alpha as it went in, the largest error against double
// precision stays inside the worst-case bound, and bad input leaves
// nothing behind.
#include "run.hpp"

#include <tapsmith/fixed.hpp>

#include "tapsmith/image/png.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct run_result {
    int status;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The program as main runs it, its standard output and error caught in files.
run_result run(std::vector<std::string> args, const fs::path& dir) {
    args.insert(args.begin(), "tapsmith-fixed");
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    (void)std::fflush(stdout);
    (void)std::fflush(stderr);
    const int saved_out = ::dup(1);
    const int saved_err = ::dup(2);
    const int out = ::open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    const int status = tapsmith::run_fixed(static_cast<int>(args.size()), argv.data());
    ::dup2(saved_out, 1);
    ::dup2(saved_err, 2);
    for (const int fd : {out, err, saved_out, saved_err}) {
        ::close(fd);
    }
    return {status, slurp(dir / "stdout"), slurp(dir / "stderr")};
}

// A JSON number field of the output, found by its key.
double field(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -1.0 : std::stod(json.substr(at + key.size() + 4));
}

// Every sample of an image, of either depth.
std::vector<std::uint16_t> samples_of(const tapsmith::image& img) {
    std::vector<std::uint16_t> out(tapsmith::sample_count(img));
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = static_cast<std::uint16_t>(tapsmith::sample(img, k));
    }
    return out;
}

// The golden model on an image of either depth; empty if it refuses.
std::vector<std::uint16_t> filtered(const tapsmith::image& in, const tapsmith::blur_options& o) {
    const tapsmith::image_size size{in.width, in.height, in.channels};
    std::vector<std::uint16_t> out(tapsmith::sample_count(in));
    if (in.bit_depth == 16) {
        return tapsmith::blur(tapsmith::samples16(in), out.data(), size, o) == tapsmith::status::ok
                   ? out
                   : std::vector<std::uint16_t>{};
    }
    std::vector<std::uint8_t> bytes(out.size());
    if (tapsmith::blur(tapsmith::samples8(in), bytes.data(), size, o) != tapsmith::status::ok) {
        return {};
    }
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

// A palette image of 4 bits written with libpng itself, the kind the
// library only reads.
void write_palette_png(const fs::path& path, std::uint32_t width, std::uint32_t height) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 4, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(16);
    for (std::size_t k = 0; k < palette.size(); ++k) {
        palette[k] = {static_cast<png_byte>(k * 17), static_cast<png_byte>(255 - k * 13),
                      static_cast<png_byte>(k * 5)};
    }
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_write_info(png, info);
    std::vector<png_byte> row((width + 1) / 2);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < row.size(); ++x) {
            row[x] = static_cast<png_byte>(((x * 3 + y) % 16) << 4 | ((x * 7 + y * 5) % 16));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    (void)std::fclose(file);
}

struct reference_error {
    double largest = 0.0;
    double squares = 0.0;
    std::size_t count = 0;
};

// The filtered colour channels against the Gaussian itself in double
// precision (point samples e^(-d^2 / 2 sigma^2), normalised), summed over
// the whole window at once.
reference_error error_against_reference(const tapsmith::image& in, const tapsmith::image& out, std::int32_t n,
                                        double sigma, tapsmith::border how) {
    const std::int64_t m = n / 2;
    std::vector<double> g(static_cast<std::size_t>(n));
    double total = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
        const auto d = static_cast<double>(i - m);
        g[static_cast<std::size_t>(i)] = std::exp(-d * d / (2.0 * sigma * sigma));
        total += g[static_cast<std::size_t>(i)];
    }
    reference_error e;
    const auto w = static_cast<std::int64_t>(in.width);
    const auto h = static_cast<std::int64_t>(in.height);
    for (std::uint32_t c = 0; c < in.channels; ++c) {
        if (static_cast<int>(c) == in.alpha) {
            continue;
        }
        for (std::int64_t y = 0; y < h; ++y) {
            for (std::int64_t x = 0; x < w; ++x) {
                double sum = 0.0;
                for (std::int64_t i = 0; i < n; ++i) {
                    for (std::int64_t j = 0; j < n; ++j) {
                        const std::int64_t yy = tapsmith::border_index(y + i - m, h, how);
                        const std::int64_t xx = tapsmith::border_index(x + j - m, w, how);
                        if (yy >= 0 && xx >= 0) {
                            sum += g[static_cast<std::size_t>(i)] * g[static_cast<std::size_t>(j)] *
                                   tapsmith::sample(
                                       in, static_cast<std::size_t>((yy * w + xx) * in.channels + c));
                        }
                    }
                }
                const double diff =
                    tapsmith::sample(out, static_cast<std::size_t>((y * w + x) * in.channels + c)) -
                    sum / (total * total);
                e.largest = std::max(e.largest, std::fabs(diff));
                e.squares += diff * diff;
                ++e.count;
            }
        }
    }
    return e;
}

class Apply : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tapsmith_apply_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

struct kind_row {
    const char* name;
    std::uint32_t channels;
    std::uint32_t depth;
    const char* border;
    const char* n;
    const char* sigma;
    std::uint32_t width = 23;
    std::uint32_t height = 17;
};

TEST_F(Apply, FiltersEveryKindAsTheGoldenModel) {
    const kind_row rows[] = {
        {"grey 8", 1, 8, "reflect101", "5", "1.0"},
        {"grey+alpha 8", 2, 8, "replicate", "3", "0.7"},
        {"RGB 8", 3, 8, "zero", "9", "2"},
        {"RGBA 8", 4, 8, "reflect101", "7", "1.2"},
        {"grey 16", 1, 16, "zero", "5", "1.0"},
        {"grey+alpha 16", 2, 16, "reflect101", "3", "0.5"},
        {"RGB 16", 3, 16, "replicate", "15", "3"},
        {"RGBA 16", 4, 16, "zero", "1", "1"},
        // No --border: the default is reflect101's.
        {"grey 8, default border", 1, 8, nullptr, "7", "1.5"},
        // The double-precision reference goes row by row through a ring of n rows.
        {"grey 8, fewer rows than taps", 1, 8, "reflect101", "9", "2", 30, 3},
        {"grey 8, as many rows as taps", 1, 8, "replicate", "9", "2", 5, 9},
        {"RGB 8, one row", 3, 8, "zero", "7", "1.5", 12, 1},
        {"grey 16, one column, long filter", 1, 16, "reflect101", "31", "6", 1, 40},
        {"grey+alpha 8, one row more than taps", 2, 8, "zero", "5", "1", 6, 6},
        // Images tall for their bands: the output rows go round a ring.
        {"grey+alpha 16, a ring of rows", 2, 16, "reflect101", "3", "0.8", 1500, 500},
        {"RGB 8, a ring of rows, longer filter", 3, 8, "replicate", "15", "2.5", 1200, 260},
    };
    for (const kind_row& row : rows) {
        SCOPED_TRACE(row.name);
        tapsmith::image in;
        ASSERT_TRUE(tapsmith::make_image(in, row.width, row.height, row.channels, row.depth));
        std::uint64_t state = 12345;
        for (std::size_t k = 0; k < tapsmith::sample_count(in); ++k) {
            state = state * 6364136223846793005U + 1442695040888963407U;
            tapsmith::set_sample(in, k, static_cast<std::uint32_t>(state >> 33) & ((1U << row.depth) - 1));
        }
        const fs::path source = dir_ / "in.png";
        const fs::path target = dir_ / "out.png";
        ASSERT_EQ(tapsmith::write_png(source.c_str(), in), "");
        std::vector<std::string> args = {
            "--format=json", "--bits=8", "--apply=" + source.string(), "--output=" + target.string(),
            row.n,           row.sigma};
        if (row.border != nullptr) {
            args.push_back(std::string("--border=") + row.border);
        }
        const run_result r = run(args, dir_);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        tapsmith::image out;
        ASSERT_EQ(tapsmith::read_png(target.c_str(), out), "");
        EXPECT_EQ(out.channels, in.channels);
        EXPECT_EQ(out.bit_depth, in.bit_depth);
        ASSERT_EQ(out.width, in.width);
        ASSERT_EQ(out.height, in.height);
        // The golden model on the same samples, every channel; alpha then as it was.
        const auto n = static_cast<std::int32_t>(std::stoi(row.n));
        tapsmith::fixed_taps taps{};
        ASSERT_EQ(tapsmith::get_fixed_taps(n, std::stod(row.sigma), 8, tapsmith::sampling::point, taps),
                  tapsmith::status::ok);
        tapsmith::border how = tapsmith::border::reflect101;
        ASSERT_TRUE(row.border == nullptr || tapsmith::find_border(row.border, how));
        const std::vector<std::uint16_t> want =
            filtered(in, {n, taps.data(), 8, static_cast<std::int32_t>(row.depth), how});
        ASSERT_FALSE(want.empty());
        std::size_t wrong = 0;
        for (std::size_t k = 0; k < want.size(); ++k) {
            const bool alpha = in.alpha >= 0 && k % in.channels == static_cast<std::size_t>(in.alpha);
            wrong += tapsmith::sample(out, k) != (alpha ? tapsmith::sample(in, k) : want[k]) ? 1U : 0U;
        }
        EXPECT_EQ(wrong, 0U);
        EXPECT_EQ(field(r.out, "width"), static_cast<double>(row.width));
        EXPECT_EQ(field(r.out, "height"), static_cast<double>(row.height));
        EXPECT_EQ(field(r.out, "channels"), static_cast<double>(row.channels));
        EXPECT_EQ(field(r.out, "pixel_bits"), static_cast<double>(row.depth));
        // The figures against double precision, worked here on their own: a
        // direct 2-D sum (which rounds in another order, hence the margin),
        // and a PSNR whose peak is 2^P - 1.
        const reference_error e = error_against_reference(in, out, n, std::stod(row.sigma), how);
        EXPECT_NEAR(field(r.out, "max_abs_error"), e.largest, 1e-9 * std::max(1.0, e.largest));
        if (e.squares == 0.0) {
            EXPECT_NE(r.out.find("\"psnr_db\": null,"), std::string::npos) << r.out;
        } else {
            const double peak = std::ldexp(1.0, static_cast<int>(row.depth)) - 1.0;
            const double mse = e.squares / static_cast<double>(e.count);
            EXPECT_NEAR(field(r.out, "psnr_db"), 10.0 * std::log10(peak * peak / mse), 1e-9);
        }
        // The worst case over every input bounds this image's error.
        EXPECT_LE(e.largest, field(r.out, "worst_error_2d"));
        // Any thread count: the same figures to the last digit, the same file.
        const std::string image = slurp(target);
        for (const char* threads : {"--threads=1", "--threads=2", "--threads=3", "--threads=7"}) {
            args.emplace_back(threads);
            const run_result again = run(args, dir_);
            args.pop_back();
            EXPECT_EQ(again.out, r.out) << threads;
            EXPECT_TRUE(slurp(target) == image) << threads;
        }
    }
}

// The figures as the program gave them before they were summed a row at a
// time (recorded from that build on the same images): the text report's
// digits stay, the largest error to the last bit (each pixel's reference is
// made as before), the PSNR within 1e-12 (its squares are added in another
// order).
struct figures_row {
    const char* name;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t channels;
    std::uint32_t depth;
    bool ramp;  // a smooth ramp with a little noise, or noise alone
    const char* n;
    const char* border;
    double psnr_db;
    double max_abs_error;
};

TEST_F(Apply, FiguresKeepTheirDigits) {
    const figures_row rows[] = {
        {"grey 8 noise 23x17 n3", 23, 17, 1, 8, false, "3", "reflect101", 58.625312357344548,
         0.51507450795533316},
        {"grey 8 ramp 200x31 n9", 200, 31, 1, 8, true, "9", "reflect101", 58.789684405143902,
         0.50382574405389491},
        {"grey 8 ramp 127x40 n31", 127, 40, 1, 8, true, "31", "replicate", 58.968027206716265,
         0.52904228988171553},
        {"grey 8 noise 1x40 n9", 1, 40, 1, 8, false, "9", "zero", 58.369881399945676, 0.60451050248606464},
        {"grey 8 noise 9x1 n5", 9, 1, 1, 8, false, "5", "reflect101", 59.10197617362131, 0.52468467285149245},
        {"RGB 8 ramp 33x20 n9", 33, 20, 3, 8, true, "9", "zero", 59.049392099183066, 0.58286630157658692},
        {"RGBA 8 noise 8x8 n7", 8, 8, 4, 8, false, "7", "reflect101", 59.370375594772241,
         0.54284887836973894},
        {"grey 16 ramp 300x25 n15", 300, 25, 1, 16, true, "15", "reflect101", 103.01518886935307,
         1.6052459124248344},
        {"grey 16 noise 64x64 n3", 64, 64, 1, 16, false, "3", "replicate", 84.475009117693688,
         10.078207140479208},
        {"RGB 16 ramp 17x33 n31", 17, 33, 3, 16, true, "31", "reflect101", 65.490646024186788,
         74.477312490394979},
        {"grey+alpha 16 noise 40x9 n5", 40, 9, 2, 16, false, "5", "zero", 69.573492932205212,
         66.298499676930078},
        {"grey 8 ramp 1025x7 n3", 1025, 7, 1, 8, true, "3", "reflect101", 58.867760584369307,
         0.49992440465436516},
    };
    for (const figures_row& row : rows) {
        SCOPED_TRACE(row.name);
        tapsmith::image in;
        ASSERT_TRUE(tapsmith::make_image(in, row.width, row.height, row.channels, row.depth));
        const std::uint32_t top = (1U << row.depth) - 1;
        std::uint64_t state = 2024;
        for (std::size_t k = 0; k < tapsmith::sample_count(in); ++k) {
            state = state * 6364136223846793005U + 1442695040888963407U;
            const std::uint32_t noise = static_cast<std::uint32_t>(state >> 33U) & top;
            const std::size_t pixel = k / row.channels;
            const std::size_t level =
                (pixel % row.width + pixel / row.width) * top / (row.width + row.height);
            tapsmith::set_sample(
                in, k,
                row.ramp ? static_cast<std::uint32_t>(std::min<std::size_t>(top, level + noise % 9)) : noise);
        }
        const fs::path source = dir_ / "in.png";
        ASSERT_EQ(tapsmith::write_png(source.c_str(), in), "");
        const std::string n = row.n;
        const std::string sigma = std::to_string(std::stod(n) / 6.0);
        const std::vector<std::string> common = {"--bits=10",
                                                 "--apply=" + source.string(),
                                                 "--output=" + (dir_ / "out.png").string(),
                                                 std::string("--border=") + row.border,
                                                 n,
                                                 sigma};
        std::vector<std::string> json = {"--format=json"};
        json.insert(json.end(), common.begin(), common.end());
        const run_result r = run(json, dir_);
        ASSERT_EQ(r.status, 0) << r.err;
        const double psnr = field(r.out, "psnr_db");
        EXPECT_EQ(field(r.out, "max_abs_error"), row.max_abs_error)
            << std::setprecision(17) << field(r.out, "max_abs_error");
        EXPECT_NEAR(psnr, row.psnr_db, 1e-12 * row.psnr_db) << std::setprecision(17) << psnr;
        const run_result text = run(common, dir_);
        ASSERT_EQ(text.status, 0) << text.err;
        char line[80];
        (void)std::snprintf(line, sizeof line, "PSNR %.2f dB, largest absolute error %.4g LSB", row.psnr_db,
                            row.max_abs_error);
        EXPECT_NE(text.out.find(line), std::string::npos) << text.out;
    }
}

// With --minimize the image is filtered with the cheapest taps at the B
// they were found at, not at the ceiling searched.
TEST_F(Apply, FiltersWithTheCheapestTapsAtTheirBits) {
    tapsmith::image in;
    ASSERT_TRUE(tapsmith::make_image(in, 19, 11, 1, 8));
    for (std::size_t k = 0; k < tapsmith::sample_count(in); ++k) {
        tapsmith::set_sample(in, k, k * 53 % 256);
    }
    const fs::path source = dir_ / "in.png";
    const fs::path target = dir_ / "out.png";
    ASSERT_EQ(tapsmith::write_png(source.c_str(), in), "");
    const run_result r = run({"--format=json", "--minimize=adders", "--apply=" + source.string(),
                              "--output=" + target.string(), "9", "1.5"},
                             dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    tapsmith::cheapest_taps cheapest;
    ASSERT_EQ(tapsmith::get_cheapest_taps(9, 1.5, 8, tapsmith::sampling::point, {}, cheapest),
              tapsmith::status::ok);
    EXPECT_EQ(field(r.out, "bits"), static_cast<double>(cheapest.bits));
    const std::vector<std::uint16_t> want =
        filtered(in, {9, cheapest.taps.data(), cheapest.bits, 8, tapsmith::border::reflect101});
    ASSERT_FALSE(want.empty());
    tapsmith::image out;
    ASSERT_EQ(tapsmith::read_png(target.c_str(), out), "");
    EXPECT_EQ(samples_of(out), want);
}

TEST_F(Apply, ExpandsPaletteImagesAndWritesTestVectors) {
    const fs::path source = dir_ / "palette.png";
    write_palette_png(source, 9, 6);
    const fs::path target = dir_ / "out.png";
    const std::string prefix = (dir_ / "v").string();
    const run_result r = run(
        {"--apply=" + source.string(), "--output=" + target.string(), "--vectors=" + prefix, "3", "1"}, dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    tapsmith::image out;
    ASSERT_EQ(tapsmith::read_png(target.c_str(), out), "");
    EXPECT_EQ(out.channels, 3U);
    EXPECT_EQ(out.bit_depth, 8U);
    // One two-digit sample a line, channel after channel.
    const std::string in_hex = slurp(prefix + "_in.hex");
    const std::string out_hex = slurp(prefix + "_out.hex");
    EXPECT_EQ(in_hex.size(), 9U * 6 * 3 * 3);
    EXPECT_EQ(out_hex.size(), 9U * 6 * 3 * 3);
    const auto hex = [](unsigned v) {
        const char digits[] = "0123456789abcdef";
        return std::string{digits[(v >> 4U) & 0xfU], digits[v & 0xfU], '\n'};
    };
    EXPECT_EQ(out_hex.substr(0, 3), hex(tapsmith::sample(out, 0)));
    // The first pixel's second channel starts the second plane.
    EXPECT_EQ(out_hex.substr(std::size_t{9} * 6 * 3, 3), hex(tapsmith::sample(out, 1)));
}

// --ppc writes the beats the cores take: pixel 0 low, channel 0 lowest, and
// a width the beat does not divide is a usage error. One tap is the
// identity, so the output vectors equal the input ones.
TEST_F(Apply, WritesVectorsAsBeats) {
    const struct {
        const char* name;
        std::uint32_t width, height, channels, depth;
        std::vector<std::uint16_t> samples;
        const char* ppc;
        int status;
        std::string hex;  // the input vectors, or the message after "tapsmith-fixed: "
    } rows[] = {
        {"grey+alpha, 2 a beat", 4, 1, 2, 8, {1, 2, 3, 4, 5, 6, 7, 8}, "2", 0, "04030201\n08070605\n"},
        {"16-bit RGB", 1, 2, 3, 16, {1, 2, 3, 4, 5, 0xabcd}, "1", 0, "000300020001\nabcd00050004\n"},
        {"grey, 8 a beat", 8, 1, 1, 8, {0, 1, 2, 3, 4, 5, 6, 0xff}, "8", 0, "ff06050403020100\n"},
        {"width 6", 6, 1, 1, 8, {}, "4", 2, "the image's width is not a multiple of --ppc: '6 and 4'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tapsmith::image img;
        ASSERT_TRUE(tapsmith::make_image(img, row.width, row.height, row.channels, row.depth));
        for (std::size_t k = 0; k < row.samples.size(); ++k) {
            tapsmith::set_sample(img, k, row.samples[k]);
        }
        const fs::path source = dir_ / "beats.png";
        ASSERT_EQ(tapsmith::write_png(source.c_str(), img), "");
        const std::string prefix = (dir_ / "b").string();
        const run_result r = run({"--apply=" + source.string(), "--output=" + (dir_ / "b.png").string(),
                                  "--vectors=" + prefix, std::string("--ppc=") + row.ppc, "1", "1"},
                                 dir_);
        ASSERT_EQ(r.status, row.status) << r.err;
        if (row.status != 0) {
            EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "tapsmith-fixed: " + row.hex);
            continue;
        }
        EXPECT_EQ(slurp(prefix + "_in.hex"), row.hex);
        EXPECT_EQ(slurp(prefix + "_out.hex"), row.hex);
    }
}

TEST_F(Apply, BadInputFailsWithOneLineAndLeavesNoOutput) {
    const fs::path good = dir_ / "good.png";
    tapsmith::image img;
    ASSERT_TRUE(tapsmith::make_image(img, 4, 4, 1, 8));
    ASSERT_EQ(tapsmith::write_png(good.c_str(), img), "");
    const std::string png = slurp(good);
    std::ofstream(dir_ / "text.png") << "not a picture\n";
    std::ofstream(dir_ / "cut.png", std::ios::binary) << png.substr(0, png.size() / 2);
    // Cut inside its pixels, after rows have gone to threads to filter.
    tapsmith::image noisy;
    ASSERT_TRUE(tapsmith::make_image(noisy, 300, 400, 1, 8));
    std::uint32_t state = 99;
    for (std::size_t k = 0; k < tapsmith::sample_count(noisy); ++k) {
        state = state * 1103515245U + 12345U;
        tapsmith::set_sample(noisy, k, state >> 24U);
    }
    ASSERT_EQ(tapsmith::write_png((dir_ / "noisy.png").c_str(), noisy), "");
    const std::string big = slurp(dir_ / "noisy.png");
    std::ofstream(dir_ / "short.png", std::ios::binary) << big.substr(0, big.size() * 2 / 3);
    std::string flipped = png;
    flipped[29] = static_cast<char>(flipped[29] ^ 1);  // inside IHDR's CRC
    std::ofstream(dir_ / "crc.png", std::ios::binary) << flipped;
    const struct {
        const char* name;
        std::string input;
        std::string output;
        std::string message;  // the start of the one line on standard error
    } rows[] = {
        {"not a PNG", (dir_ / "text.png").string(), (dir_ / "o1.png").string(), "tapsmith-fixed: "},
        {"truncated", (dir_ / "cut.png").string(), (dir_ / "o2.png").string(), "tapsmith-fixed: "},
        {"truncated in its pixels", (dir_ / "short.png").string(), (dir_ / "o5.png").string(),
         "tapsmith-fixed: " + (dir_ / "short.png").string() + ": truncated"},
        {"corrupt CRC", (dir_ / "crc.png").string(), (dir_ / "o3.png").string(), "tapsmith-fixed: "},
        {"missing", (dir_ / "none.png").string(), (dir_ / "o4.png").string(), "tapsmith-fixed: "},
        {"unwritable output", good.string(), (dir_ / "no" / "such" / "dir.png").string(), "tapsmith-fixed: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // Three threads whatever the machine: one reads while two filter.
        const run_result r =
            run({"--apply=" + row.input, "--output=" + row.output, "--threads=3", "5", "1"}, dir_);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(row.message, 0), 0U) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(row.output));
    }
    // Nothing but the files the test made: no temporary file left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) {
        ++entries;
    }
    EXPECT_EQ(entries, 8U);  // good, text, cut, crc, noisy, short, stdout, stderr
}

// Every file in `dir` with its bytes: what a failed run must leave as it was.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(e.path(), dir).string();
        if (name != "stdout" && name != "stderr") {
            files[name] = e.is_regular_file() ? slurp(e.path()) : "<directory>";
        }
    }
    return files;
}

// A run writes the image and both vector files, or none of them: every
// problem with an output is found before any work, and a write that fails
// at the end replaces nothing. "@" stands for the test's directory.
TEST_F(Apply, WritesAllItsFilesOrNone) {
    tapsmith::image img;
    ASSERT_TRUE(tapsmith::make_image(img, 40, 30, 1, 8));
    for (std::size_t k = 0; k < tapsmith::sample_count(img); ++k) {
        tapsmith::set_sample(img, k, static_cast<std::uint32_t>(k * 37 % 251));
    }
    ASSERT_EQ(tapsmith::write_png((dir_ / "in.png").c_str(), img), "");
    std::ofstream(dir_ / "out.png") << "old image\n";
    std::ofstream(dir_ / "v_in.hex") << "old vectors\n";
    fs::create_directory(dir_ / "sub");
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string message;  // after "tapsmith-fixed: "
        rlim_t size_limit = RLIM_INFINITY;
    } rows[] = {
        {"vectors in a missing folder",
         {"--output=@/out.png", "--vectors=@/nodir/frame"},
         "cannot create '@/nodir/frame_in.hex': No such file or directory"},
        {"image in a missing folder",
         {"--output=@/nodir/out.png"},
         "cannot create '@/nodir/out.png': No such file or directory"},
        {"output is a directory", {"--output=@/sub"}, "cannot write '@/sub': it is a directory"},
        {"output names a directory", {"--output=@/new/"}, "cannot write '@/new/': it is a directory"},
        {"output is the current directory", {"--output=."}, "cannot write '.': it is a directory"},
        {"output is a vector file",
         {"--output=@/v_in.hex", "--vectors=@/v"},
         "cannot write '@/v_in.hex': it is named twice"},
        {"input cannot be read",
         {"--output=@/out.png", "--vectors=@/v", "--apply=@/none.png"},
         "@/none.png: cannot open: No such file or directory"},
        // The image fits the limit; the first vector file's 3,600 bytes stay in
        // its stream's buffer, so the error shows only when it is closed,
        // after the image was written. (The limit leaves room for the message
        // on standard error; the image is compressed hard to stay below it.)
        {"file size limit",
         {"--output=@/out.png", "--vectors=@/v", "--png-compression=6"},
         "cannot write '@/v_in.hex': " + std::string(std::strerror(EFBIG)),
         400},
    };
    const auto at = [&](std::string text) {
        for (std::size_t k = text.find('@'); k != std::string::npos; k = text.find('@', k)) {
            text.replace(k, 1, dir_.string());
        }
        return text;
    };
    const auto before = snapshot(dir_);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args = {"--apply=@/in.png"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.insert(args.end(), {"--bits=8", "3", "1"});
        for (std::string& a : args) {
            a = at(a);
        }
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = row.size_limit;
        // Past the limit write() fails with EFBIG once SIGXFSZ is ignored.
        void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const run_result r = run(args, dir_);
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        (void)std::signal(SIGXFSZ, old_handler);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "tapsmith-fixed: " + at(row.message) + "\n");
        EXPECT_EQ(snapshot(dir_), before);
    }
    // And the same run with room to write replaces all three.
    const run_result r =
        run({"--apply=" + (dir_ / "in.png").string(), "--output=" + (dir_ / "out.png").string(),
             "--vectors=" + (dir_ / "v").string(), "--bits=8", "3", "1"},
            dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    tapsmith::image out;
    EXPECT_EQ(tapsmith::read_png((dir_ / "out.png").c_str(), out), "");
    EXPECT_EQ(out.width, 40U);
    const std::string in_hex = slurp(dir_ / "v_in.hex");
    EXPECT_EQ(in_hex.size(), 40U * 30 * 3);
    EXPECT_EQ(in_hex.substr(3, 3), "25\n");  // sample 1 is 37
    EXPECT_EQ(slurp(dir_ / "v_out.hex").size(), 40U * 30 * 3);
}

// Without --bits, a run whose worst case reaches a whole LSB on the image's
// depth says so on standard error, with the cure; its output stays the
// same. --bits=auto with an image sizes the taps for the image's depth.
TEST_F(Apply, WarnsWhenTheDefaultBitsAreTooFew) {
    const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): fields in the order rows read
        const char* name;
        std::uint32_t depth;
        const char* bits;  // the --bits option, or null for none
        const char* n;
        bool warns;
    } rows[] = {
        {"16-bit, default bits", 16, nullptr, "5", true}, {"16-bit, 8 bits chosen", 16, "8", "5", false},
        {"16-bit, auto bits", 16, "auto", "5", false},    {"8-bit, default bits", 8, nullptr, "5", true},
        {"8-bit, one tap", 8, nullptr, "1", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tapsmith::image img;
        ASSERT_TRUE(tapsmith::make_image(img, 32, 24, 1, row.depth));
        const std::uint32_t top = (1U << row.depth) - 1;
        for (std::size_t k = 0; k < tapsmith::sample_count(img); ++k) {
            tapsmith::set_sample(img, k, static_cast<std::uint32_t>(k % 32) * top / 31);  // a gradient
        }
        const fs::path source = dir_ / "ramp.png";
        ASSERT_EQ(tapsmith::write_png(source.c_str(), img), "");
        std::vector<std::string> args = {"--format=json", "--apply=" + source.string(),
                                         "--output=" + (dir_ / "out.png").string(), row.n, "1.0"};
        if (row.bits != nullptr) {
            args.push_back(std::string("--bits=") + row.bits);
        }
        const run_result r = run(args, dir_);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto n = static_cast<std::int32_t>(std::stoi(row.n));
        const auto depth = static_cast<std::int32_t>(row.depth);
        std::int32_t enough = 0;
        ASSERT_EQ(tapsmith::auto_bits(n, 1.0, depth, tapsmith::sampling::point, enough),
                  tapsmith::status::ok);
        if (row.warns) {
            char worst[32];
            (void)std::snprintf(worst, sizeof worst, "%.2f", field(r.out, "worst_error_2d"));
            EXPECT_GE(field(r.out, "worst_error_2d"), 1.0);
            EXPECT_EQ(r.err,
                      "tapsmith-fixed: warning: with the default 8 bits the output can be off by up to " +
                          std::string(worst) + " LSB on " + std::to_string(depth) +
                          "-bit pixels; --bits=auto (" + std::to_string(enough) +
                          " bits) keeps it below 1 LSB\n");
        } else {
            EXPECT_EQ(r.err, "");
        }
        if (row.bits != nullptr && std::string(row.bits) == "auto") {
            std::int32_t for_8_bits = 0;
            ASSERT_EQ(tapsmith::auto_bits(n, 1.0, 8, tapsmith::sampling::point, for_8_bits),
                      tapsmith::status::ok);
            ASSERT_NE(enough, for_8_bits);  // else the row could not tell the depths apart
            EXPECT_EQ(field(r.out, "bits"), enough);
            EXPECT_LT(field(r.out, "worst_error_2d"), 1.0);
        } else {
            EXPECT_EQ(field(r.out, "bits"), 8.0);
        }
    }
}

}  // namespace
