// SPDX-License-Identifier: MIT
// PNG images in and out, with every sample exactly as the file stores it:
// no gamma, no colour conversion, no scaling of 16-bit data.
//
// What reading gives:
//   grey, grey+alpha, RGB, RGBA at 8 or 16 bits: as stored (16-bit samples
//     in host order);
//   grey at 1, 2 or 4 bits: 8-bit grey, a value v of depth d becoming
//     v * 255 / (2^d - 1);
//   palette: 8-bit RGB, the entries looked up (an index past the palette
//     is refused);
//   a tRNS chunk always becomes an alpha channel, so that no transparency
//     is lost: palette to RGBA (entries tRNS does not cover are opaque),
//     grey or RGB with a colour key to grey+alpha or RGBA at the image's
//     depth, alpha 0 where the sample equals the key and the maximum
//     elsewhere.
// Ancillary chunks (gamma, colour profiles, text, times) are read past and
// never written. Writing writes the image's own kind at its own depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace tapsmith {

struct sample_deleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

// The largest image read by default: 2^28 pixels, at most 2 GiB of samples.
inline constexpr std::uint64_t max_image_pixels = std::uint64_t{1} << 28;

// P is bit_depth, and every sample is below 2^bit_depth: one byte a
// sample at 8 bits, as the file and the filter take them, two (in the
// host's order) at 16.
struct image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;   // 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA
    int alpha = -1;               // the alpha channel's index (1 or 3), -1 for none
    std::uint32_t bit_depth = 0;  // 8 or 16
    // width * height * channels samples, channels interleaved, rows top to
    // bottom, each row left to right; samples8 or samples16 below.
    std::unique_ptr<void, sample_deleter> data;
};

// The samples as their type: null at the other depth.
inline std::uint8_t* samples8(image& img) noexcept {
    return img.bit_depth == 8 ? static_cast<std::uint8_t*>(img.data.get()) : nullptr;
}
inline const std::uint8_t* samples8(const image& img) noexcept {
    return img.bit_depth == 8 ? static_cast<const std::uint8_t*>(img.data.get()) : nullptr;
}
inline std::uint16_t* samples16(image& img) noexcept {
    return img.bit_depth == 16 ? static_cast<std::uint16_t*>(img.data.get()) : nullptr;
}
inline const std::uint16_t* samples16(const image& img) noexcept {
    return img.bit_depth == 16 ? static_cast<const std::uint16_t*>(img.data.get()) : nullptr;
}

// Sample k (of sample_count) of either depth.
inline std::uint32_t sample(const image& img, std::size_t k) noexcept {
    const void* block = img.data.get();
    return img.bit_depth == 16 ? std::uint32_t{static_cast<const std::uint16_t*>(block)[k]}
                               : std::uint32_t{static_cast<const std::uint8_t*>(block)[k]};
}
// Sets sample k to `value`, which must be below 2^bit_depth.
inline void set_sample(image& img, std::size_t k, std::uint32_t value) noexcept {
    void* block = img.data.get();
    if (img.bit_depth == 16) {
        static_cast<std::uint16_t*>(block)[k] = static_cast<std::uint16_t>(value);
    } else {
        static_cast<std::uint8_t*>(block)[k] = static_cast<std::uint8_t>(value);
    }
}

// width * height * channels, or 0 when the shape is not one this code can
// hold (no dimension, channels outside 1..4, more than max_image_pixels).
std::size_t sample_count(const image& img) noexcept;

// Sets the shape (alpha follows from the channels) and gives `img` a
// zeroed buffer for it. False, leaving `img` empty, for a shape
// sample_count refuses, a depth other than 8 or 16, or no memory.
bool make_image(image& img, std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                std::uint32_t bit_depth) noexcept;

// Each returns "" on success, filling `out`; otherwise one line,
// "NAME: what went wrong" (NAME is the path, or `name` for bytes in
// memory), leaving `out` empty. An image of more than `max_pixels` pixels
// is refused before any buffer for it exists.
std::string read_png(const char* path, image& out, std::uint64_t max_pixels = max_image_pixels);
std::string read_png(const void* data, std::size_t size, const char* name, image& out,
                     std::uint64_t max_pixels = max_image_pixels);

// Told as rows are read: done(context, rows) once rows 0 .. rows - 1 hold
// their samples.
struct row_sink {
    void (*done)(void* context, std::uint32_t rows) = nullptr;
    void* context = nullptr;
};

// read_png in two steps, so that rows can be used as they arrive: open()
// reads up to the pixels, giving `out` its shape and room for its samples,
// read_rows() the pixels, telling `sink` row by row as they are done (an
// interlaced image's rows are all done only at the end: it tells nothing).
// Each returns "" or read_png's message; after a failure, or before
// read_rows() succeeds, `out`'s samples are not the file's.
class png_reader {
  public:
    png_reader();
    ~png_reader();
    png_reader(const png_reader&) = delete;
    png_reader& operator=(const png_reader&) = delete;

    std::string open(const char* path, image& out, std::uint64_t max_pixels = max_image_pixels);
    std::string open(const void* data, std::size_t size, const char* name, image& out,
                     std::uint64_t max_pixels = max_image_pixels);
    // Once, after an open() that succeeded.
    std::string read_rows(row_sink sink = {});

  private:
    struct state;
    std::unique_ptr<state> s_;
};

// How hard the writer compresses, 0 to 9: 0 stores, 1 (the default) is
// fast as the common image libraries' defaults are, 2 .. 9 zlib's levels
// with every row filter tried (6 was this writer's only setting before).
// The pixels never depend on it.
inline constexpr int default_png_compression = 1;

// Rows still being made while the image is written: before the writer
// takes row y it calls wait(context, y + 1), which returns once rows 0 .. y
// hold their samples, with how many rows do (at least y + 1), so that it
// is called again only past them. No wait: every row is there.
struct row_source {
    std::uint32_t (*wait)(void* context, std::uint32_t rows) = nullptr;
    void* context = nullptr;
};

// Writes the image to `stream`, which the caller opened and closes; the
// same image and compression always give the same bytes. Returns "" or
// "cannot write 'NAME': what went wrong".
std::string write_png(std::FILE* stream, const char* name, const image& img,
                      int compression = default_png_compression, row_source rows = {});

// A PNG at compression 0 or 1 written a band of rows at a time, by as many
// threads as like: each band is filtered and compressed on its own,
// whichever thread takes it, and goes into the file in order. The bands
// depend on the image alone, so the bytes are write_png's, whatever the
// threads. The writer holds `stream` and `img` until finish().
// Where each row's samples are, for rows not kept as one image (a ring of
// the rows in flight): row(context, y) for row y.
struct image_rows {
    const void* (*row)(const void* context, std::uint32_t y) = nullptr;
    const void* context = nullptr;
};

class png_band_writer {
  public:
    // Writes the file's start; `img` must be one write_png can write, but
    // with `rows` it gives only the shape, its samples unused.
    png_band_writer(std::FILE* stream, const char* name, const image& img, int compression,
                    image_rows rows = {});
    ~png_band_writer();
    png_band_writer(const png_band_writer&) = delete;
    png_band_writer& operator=(const png_band_writer&) = delete;

    // Rows a band of an image of this shape: all bands but the last.
    [[nodiscard]] static std::uint32_t band_rows(const image& img);
    [[nodiscard]] std::size_t bands() const;
    // Rows 0 .. rows_needed(b) - 1 must hold their samples before band b is written.
    [[nodiscard]] std::uint32_t rows_needed(std::size_t band) const;
    // Compresses band b, then writes whatever bands are next in the file.
    // Any thread, each band once.
    void write_band(std::size_t b);
    // Once every band is written: ends the file. "" or the message.
    std::string finish();

  private:
    struct state;
    std::unique_ptr<state> s_;
};

// Writes a file through a temporary beside `path`, renamed over it only
// once complete: on failure the temporary is gone and an existing `path`
// is untouched. Returns "" or the message (cli::staged_files').
std::string write_png(const char* path, const image& img, int compression = default_png_compression);

}  // namespace tapsmith
