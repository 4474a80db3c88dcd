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
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
};

TEST_F(Apply, FiltersEveryKindAsTheGoldenModel) {
    const kind_row rows[] = {
        {"grey 8", 1, 8, "reflect101", "5", "1.0"}, {"grey+alpha 8", 2, 8, "replicate", "3", "0.7"},
        {"RGB 8", 3, 8, "zero", "9", "2"},          {"RGBA 8", 4, 8, "reflect101", "7", "1.2"},
        {"grey 16", 1, 16, "zero", "5", "1.0"},     {"grey+alpha 16", 2, 16, "reflect101", "3", "0.5"},
        {"RGB 16", 3, 16, "replicate", "15", "3"},  {"RGBA 16", 4, 16, "zero", "1", "1"},
    };
    for (const kind_row& row : rows) {
        SCOPED_TRACE(row.name);
        tapsmith::image in;
        ASSERT_TRUE(tapsmith::make_image(in, 23, 17, row.channels, row.depth));
        std::uint64_t state = 12345;
        for (std::size_t k = 0; k < tapsmith::sample_count(in); ++k) {
            state = state * 6364136223846793005U + 1442695040888963407U;
            in.samples[k] = static_cast<std::uint16_t>((state >> 33) & ((1U << row.depth) - 1));
        }
        const fs::path source = dir_ / "in.png";
        const fs::path target = dir_ / "out.png";
        ASSERT_EQ(tapsmith::write_png(source.c_str(), in), "");
        const run_result r =
            run({"--format=json", "--apply=" + source.string(), "--output=" + target.string(),
                 std::string("--border=") + row.border, row.n, row.sigma},
                dir_);
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
        tapsmith::border how{};
        ASSERT_TRUE(tapsmith::find_border(row.border, how));
        std::vector<std::uint16_t> want(tapsmith::sample_count(in));
        ASSERT_EQ(tapsmith::blur(in.samples.get(), want.data(), {in.width, in.height, in.channels},
                                 {n, taps.data(), 8, static_cast<std::int32_t>(row.depth), how}),
                  tapsmith::status::ok);
        std::size_t wrong = 0;
        for (std::size_t k = 0; k < want.size(); ++k) {
            const bool alpha = in.alpha >= 0 && k % in.channels == static_cast<std::size_t>(in.alpha);
            wrong += out.samples[k] != (alpha ? in.samples[k] : want[k]) ? 1U : 0U;
        }
        EXPECT_EQ(wrong, 0U);
        EXPECT_EQ(field(r.out, "width"), 23.0);
        EXPECT_EQ(field(r.out, "height"), 17.0);
        EXPECT_EQ(field(r.out, "channels"), static_cast<double>(row.channels));
        EXPECT_EQ(field(r.out, "pixel_bits"), static_cast<double>(row.depth));
        // The worst case over every input bounds this image's error.
        EXPECT_GE(field(r.out, "max_abs_error"), 0.0);
        EXPECT_LE(field(r.out, "max_abs_error"), field(r.out, "worst_error_2d"));
        EXPECT_GT(field(r.out, "psnr_db"), 20.0);
    }
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
    EXPECT_EQ(out_hex.substr(0, 3), hex(out.samples[0]));
    // The first pixel's second channel starts the second plane.
    EXPECT_EQ(out_hex.substr(std::size_t{9} * 6 * 3, 3), hex(out.samples[1]));
}

TEST_F(Apply, BadInputFailsWithOneLineAndLeavesNoOutput) {
    const fs::path good = dir_ / "good.png";
    tapsmith::image img;
    ASSERT_TRUE(tapsmith::make_image(img, 4, 4, 1, 8));
    ASSERT_EQ(tapsmith::write_png(good.c_str(), img), "");
    const std::string png = slurp(good);
    std::ofstream(dir_ / "text.png") << "not a picture\n";
    std::ofstream(dir_ / "cut.png", std::ios::binary) << png.substr(0, png.size() / 2);
    std::string flipped = png;
    flipped[29] = static_cast<char>(flipped[29] ^ 1);  // inside IHDR's CRC
    std::ofstream(dir_ / "crc.png", std::ios::binary) << flipped;
    const struct {
        const char* name;
        std::string input;
        std::string output;
        const char* message;  // the start of the one line on standard error
    } rows[] = {
        {"not a PNG", (dir_ / "text.png").string(), (dir_ / "o1.png").string(), "tapsmith-fixed: "},
        {"truncated", (dir_ / "cut.png").string(), (dir_ / "o2.png").string(), "tapsmith-fixed: "},
        {"corrupt CRC", (dir_ / "crc.png").string(), (dir_ / "o3.png").string(), "tapsmith-fixed: "},
        {"missing", (dir_ / "none.png").string(), (dir_ / "o4.png").string(), "tapsmith-fixed: "},
        {"unwritable output", good.string(), (dir_ / "no" / "such" / "dir.png").string(), "tapsmith-fixed: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const run_result r = run({"--apply=" + row.input, "--output=" + row.output, "5", "1"}, dir_);
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
    EXPECT_EQ(entries, 6U);  // good, text, cut, crc, stdout, stderr
}

}  // namespace
