// SPDX-License-Identifier: MIT
// Arbitrary bytes through the PNG reader. A refusal must be one line naming
// the input and leave no image; an image it accepts must have a shape and
// depth it can hold, and written out and read back must be the same image.
// The sanitizers catch any access outside a buffer, libpng's included.
#include <tapsmith/image/png.hpp>

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Well under libFuzzer's malloc limit, which a header promising 2^28
// pixels would otherwise trip before the missing data is noticed.
constexpr std::uint64_t max_pixels = std::uint64_t{1} << 22;
// Only images this small make the round trip through a file, to keep the
// runs fast.
constexpr std::size_t max_round_trip_samples = std::size_t{1} << 16;

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::string scratch_dir;

void remove_scratch() {
    unlink((scratch_dir + "/out.png").c_str());
    rmdir(scratch_dir.c_str());
}

const std::string& scratch_file() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/png_fuzz_XXXXXX";
        require(mkdtemp(dir.data()) != nullptr);
        scratch_dir = dir;
        require(std::atexit(remove_scratch) == 0);
        return dir + "/out.png";
    }();
    return path;
}

bool same(const tapsmith::image& a, const tapsmith::image& b, std::size_t count) {
    return a.width == b.width && a.height == b.height && a.channels == b.channels && a.alpha == b.alpha &&
           a.bit_depth == b.bit_depth &&
           std::memcmp(a.data.get(), b.data.get(), count * (a.bit_depth / 8)) == 0;
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer's entry point
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tapsmith::image img;
    const std::string error = tapsmith::read_png(data, size, "in.png", img, max_pixels);
    if (!error.empty()) {
        require(img.data == nullptr && img.width == 0);
        require(error.compare(0, 8, "in.png: ") == 0 && error.size() > 8);
        require(error.find('\n') == std::string::npos);
        return 0;
    }
    const std::size_t count = tapsmith::sample_count(img);
    require(count != 0 && img.data != nullptr);
    require(std::uint64_t{img.width} * img.height <= max_pixels);
    require(img.bit_depth == 8 || img.bit_depth == 16);
    require(img.alpha == (img.channels == 2 ? 1 : img.channels == 4 ? 3 : -1));
    if (count <= max_round_trip_samples) {
        const std::string& path = scratch_file();
        require(tapsmith::write_png(path.c_str(), img).empty());
        tapsmith::image back;
        require(tapsmith::read_png(path.c_str(), back).empty());
        require(same(img, back, count));
    }
    return 0;
}
