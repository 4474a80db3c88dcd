// SPDX-License-Identifier: MIT
// libpng reports an error by longjmp. Each direction keeps its setjmp in one
// small function (decode_head, decode_pixels, encode) whose frame, like every frame the jump
// crosses, holds no object with a destructor; what those functions produce
// lives in a plain state struct, turned into a message once libpng's
// structures are gone.
#include "tapsmith/image/png.hpp"
#include "png_detail.hpp"
#if TAPSMITH_HAVE_LIBDEFLATE
#include "png_inflate.hpp"
#endif

#include "tapsmith/cli/files.hpp"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <sys/stat.h>

namespace tapsmith {
namespace {

// An image's samples are first written page by page, and a 4096 x 4096
// image is 8192 pages: on Linux, where the system grants huge pages on
// request, asking for them turns those page faults into a few dozen. The
// advice covers the 2 MiB-aligned inside of the block, needs nothing of the
// allocator and, refused, leaves ordinary pages.
void advise_huge_pages(void* block, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t huge = std::size_t{1} << 21U;
    if (block == nullptr || bytes < 2 * huge) {
        return;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(block);
    const auto skip = static_cast<std::size_t>((huge - at % huge) % huge);
    const std::size_t span = (bytes - skip) / huge * huge;
    if (span > 0) {
        static_cast<void>(madvise(static_cast<char*>(block) + skip, span, MADV_HUGEPAGE));
    }
#else
    static_cast<void>(block);
    static_cast<void>(bytes);
#endif
}

enum class failure {
    none,
    not_png,
    truncated,
    io,
    too_large,
    no_pixels,
    no_memory,
    bad_header,
    libpng,
    layout,
    bad_index,
    bad_crc,
};

struct diagnosis {
    failure why = failure::none;
    int error_number = 0;  // errno of a failed read or write
    // Where libpng was when it failed: the chunk, and whether at its CRC.
    std::uint32_t chunk = 0;
    bool at_crc = false;
    char message[200] = {};
    char warning[200] = {};  // libpng's last warning: the detail behind a refused IHDR
};

void copy_text(char (&to)[200], const char* from) noexcept {
    std::size_t n = 0;
    for (; from != nullptr && from[n] != '\0' && n + 1 < sizeof to; ++n) {
        to[n] = from[n];
    }
    to[n] = '\0';
}

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
    auto* diag = static_cast<diagnosis*>(png_get_error_ptr(png));
    // A failure the callbacks already named (truncation, a read error, no
    // memory) stays the one reported; libpng's own is told apart by where
    // it happened, its text only shown.
    if (diag->why == failure::none) {
        diag->why = failure::libpng;
        diag->chunk = png_get_io_chunk_type(png);
        diag->at_crc = (png_get_io_state(png) & PNG_IO_MASK_LOC) == PNG_IO_CHUNK_CRC;
        copy_text(diag->message, message);
    }
    png_longjmp(png, 1);
}

// A chunk's type as png_get_io_chunk_type gives it.
constexpr std::uint32_t ihdr_chunk =
    std::uint32_t{'I'} << 24U | std::uint32_t{'H'} << 16U | std::uint32_t{'D'} << 8U | 'R';

// libpng's allocations, so that running out of memory is known as such.
png_voidp allocate(png_structp png, png_alloc_size_t size) {
    void* block = std::malloc(size);
    if (block == nullptr) {
        static_cast<diagnosis*>(png_get_error_ptr(png))->why = failure::no_memory;
    }
    return block;
}

void release(png_structp /*png*/, png_voidp block) {
    std::free(block);
}

// Warnings are ancillary trouble libpng reads past; none of them reaches
// the terminal, but the last one explains a rejected header.
void on_warning(png_structp png, png_const_charp message) {
    copy_text(static_cast<diagnosis*>(png_get_error_ptr(png))->warning, message);
}

struct read_state {
    diagnosis diag;
    std::FILE* file = nullptr;  // the source, or else the bytes below
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::uint64_t offset = 0;  // bytes of the stream consumed so far
    std::uint64_t max_pixels = 0;
    // Bytes 16..23 of the stream, IHDR's width and height, kept because
    // libpng rejects an impossible size before saying what it was.
    unsigned char ihdr_size[8] = {};
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;
    std::uint32_t bit_depth = 0;
    unsigned char* pixels = nullptr;  // malloc'd; owned by the caller once set
    std::size_t row_bytes = 0;        // a row's room
    int passes = 1;                   // 7 when interlaced
    // A palette image is read as indexes and looked up here: libpng's own
    // expansion turns an index past the palette into black without a word.
    bool indexed = false;
    int entries = 0;
    int alpha_entries = 0;  // tRNS entries; the rest are opaque
    unsigned char palette[256 * 3] = {};
    unsigned char palette_alpha[256] = {};
    // The last 8 bytes taken: after the head, the first IDAT's length and type.
    unsigned char recent[8] = {};
    std::size_t file_row_bytes = 0;  // a row in the file, before its filter byte
    std::size_t room = 0;            // pixels' bytes, and room for the filtered rows
#if TAPSMITH_HAVE_LIBDEFLATE
    detail::idat_feed feed;  // what libpng reads first, once the rows start
    bool feeding = false;
    bool crc_again = false;  // CRCs checked once more after the feed
#endif
};

// The source's own bytes.
std::size_t take_source(read_state& s, unsigned char* out, std::size_t count) noexcept {
    std::size_t got = 0;
    if (s.file != nullptr) {
        got = std::fread(out, 1, count, s.file);
        if (got < count && std::ferror(s.file) != 0 && s.diag.why == failure::none) {
            s.diag.why = failure::io;
            s.diag.error_number = errno;
        }
    } else {
        got = count < s.size ? count : s.size;
        if (got != 0) {
            std::memcpy(out, s.data, got);
            s.data += got;
            s.size -= got;
        }
    }
    // Only the stream's first bytes hold IHDR's size; the rest pass by untouched.
    for (std::size_t i = 0; i < got && s.offset + i < 24; ++i) {
        const std::uint64_t at = s.offset + i;
        if (at >= 16) {
            s.ihdr_size[at - 16] = out[i];
        }
    }
    s.offset += got;
    return got;
}

std::size_t take(read_state& s, unsigned char* out, std::size_t count) noexcept {
    std::size_t got = 0;
#if TAPSMITH_HAVE_LIBDEFLATE
    if (s.feeding) {
        got = s.feed.serve(out, count);
    }
#endif
    if (got < count) {
        got += take_source(s, out + got, count - got);
    }
    if (got >= 8) {
        std::memcpy(s.recent, out + got - 8, 8);
    } else if (got > 0) {
        std::memmove(s.recent, s.recent + got, 8 - got);
        std::memcpy(s.recent + 8 - got, out, got);
    }
    return got;
}

void read_bytes(png_structp png, png_bytep out, std::size_t count) {
    auto* s = static_cast<read_state*>(png_get_io_ptr(png));
    const std::size_t got = take(*s, out, count);
#if TAPSMITH_HAVE_LIBDEFLATE
    if (s->feeding && !s->crc_again && !s->feed.made_up()) {
        png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
        s->crc_again = true;
    }
#endif
    if (got < count) {
        if (s->diag.why == failure::none) {
            s->diag.why = failure::truncated;
        }
        png_error(png, "truncated");
    }
}

// Up to the pixels: the shape known and room made for every sample.
void read_head(png_structp png, png_infop info, read_state& s) {
    png_set_read_fn(png, &s, read_bytes);
    png_set_sig_bytes(png, 8);
    // A damaged chunk is refused, ancillary ones too: tRNS changes pixels.
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    // Every chunk's CRC-32 already covers the compressed pixels; zlib's
    // Adler-32 over them once more, inflated, would cost about a twentieth
    // of reading.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    const std::uint64_t side = s.max_pixels < 0x7fffffff ? s.max_pixels : 0x7fffffff;
    png_set_user_limits(png, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side));
    // Only IHDR, PLTE, tRNS, IDAT and IEND matter here. The others are read
    // past (their CRCs still checked) without libpng decoding them: it
    // would otherwise allocate whatever length a text chunk claims, and
    // decompress compressed ones.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);
    s.file_row_bytes = png_get_rowbytes(png, info);

    s.width = png_get_image_width(png, info);
    s.height = png_get_image_height(png, info);
    if (std::uint64_t{s.width} * s.height > s.max_pixels) {
        s.diag.why = failure::too_large;
        png_error(png, "too large");
    }
    const int color_type = png_get_color_type(png, info);
    s.indexed = color_type == PNG_COLOR_TYPE_PALETTE;
    if (s.indexed) {
        png_colorp colors = nullptr;
        if (png_get_PLTE(png, info, &colors, &s.entries) == 0 || s.entries < 1 || s.entries > 256) {
            png_error(png, "no palette");
        }
        for (int i = 0; i < s.entries; ++i) {
            const auto at = static_cast<std::size_t>(i) * 3;
            s.palette[at] = colors[i].red;
            s.palette[at + 1] = colors[i].green;
            s.palette[at + 2] = colors[i].blue;
        }
        png_bytep alpha = nullptr;
        if (png_get_tRNS(png, info, &alpha, &s.alpha_entries, nullptr) == 0 || alpha == nullptr ||
            s.alpha_entries < 0 || s.alpha_entries > s.entries) {
            s.alpha_entries = 0;
        }
        for (int i = 0; i < s.alpha_entries; ++i) {
            s.palette_alpha[i] = alpha[i];
        }
        png_set_packing(png);
    } else {
        if (color_type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) {
            png_set_expand_gray_1_2_4_to_8(png);
        }
        if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) {
            png_set_tRNS_to_alpha(png);
        }
        // The file's 16-bit samples are big-endian; libpng turns them into
        // the host's order.
        if (png_get_bit_depth(png, info) == 16 && std::endian::native == std::endian::little) {
            png_set_swap(png);
        }
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const std::uint32_t decoded_channels = png_get_channels(png, info);
    s.channels = s.indexed ? (s.alpha_entries > 0 ? 4 : 3) : decoded_channels;
    s.bit_depth = png_get_bit_depth(png, info);
    const std::uint64_t row_samples = std::uint64_t{s.width} * s.channels;
    if (s.channels < 1 || s.channels > 4 || (s.bit_depth != 8 && s.bit_depth != 16) ||
        (s.indexed && (decoded_channels != 1 || s.bit_depth != 8)) ||
        png_get_rowbytes(png, info) != std::uint64_t{s.width} * decoded_channels * (s.bit_depth / 8)) {
        s.diag.why = failure::layout;
        png_error(png, "layout");
    }
    // A sample a byte at 8 bits, two at 16; a palette row's indexes fill
    // the start of the room for its colours.
    const std::uint64_t row_bytes = row_samples * (s.bit_depth / 8);
    const std::uint64_t bytes = row_bytes * s.height;
    // Inflated in one go, the filtered rows (a byte more a row) end where
    // the pixels' room does: libpng's rows fill it from the start, never
    // reaching rows it has yet to read.
#if TAPSMITH_HAVE_LIBDEFLATE
    const std::uint64_t filtered = passes == 1 ? (std::uint64_t{s.file_row_bytes} + 1) * s.height : 0;
#else
    const std::uint64_t filtered = 0;
#endif
    const std::uint64_t room = std::max(bytes, filtered);
    if (room > std::numeric_limits<std::size_t>::max()) {
        s.diag.why = failure::no_memory;
        png_error(png, "out of memory");
    }
    s.pixels = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(room)));
    s.room = static_cast<std::size_t>(room);
    if (s.pixels == nullptr) {
        s.diag.why = failure::no_memory;
        png_error(png, "out of memory");
    }
    advise_huge_pages(s.pixels, static_cast<std::size_t>(bytes));
    s.row_bytes = static_cast<std::size_t>(row_bytes);
    s.passes = passes;
}

// Palette row y as libpng left it, one index a byte at the start of the
// row's room, to colours: each widens from the end, every index read
// before its bytes are overwritten. False for an index past the palette.
bool to_samples(read_state& s, std::uint32_t y) noexcept {
    unsigned char* const bytes = s.pixels + std::size_t{y} * s.row_bytes;
    for (std::size_t x = s.width; x > 0; --x) {
        const std::size_t index = bytes[x - 1];
        if (index >= static_cast<std::size_t>(s.entries)) {
            return false;
        }
        const unsigned char alpha =
            index < static_cast<std::size_t>(s.alpha_entries) ? s.palette_alpha[index] : 255;
        const unsigned char pixel[4] = {s.palette[3 * index], s.palette[3 * index + 1],
                                        s.palette[3 * index + 2], alpha};
        std::memcpy(bytes + (x - 1) * s.channels, pixel, s.channels);
    }
    return true;
}

#if TAPSMITH_HAVE_LIBDEFLATE
// What is left of the source, or 0 when that cannot be told (a pipe).
std::size_t bytes_left(const read_state& s) {
    if (s.file == nullptr) {
        return s.size;
    }
    struct stat about {};
    if (fstat(fileno(s.file), &about) != 0 || !S_ISREG(about.st_mode) || about.st_size < 0 ||
        static_cast<std::uint64_t>(about.st_size) < s.offset ||
        static_cast<std::uint64_t>(about.st_size) - s.offset > std::numeric_limits<std::size_t>::max()) {
        return 0;
    }
    return static_cast<std::size_t>(static_cast<std::uint64_t>(about.st_size) - s.offset);
}

// The rows inflated by libdeflate where it can (see png_inflate.hpp).
void start_feed(png_structp png, read_state& s) {
    const std::size_t left = bytes_left(s);
    if (s.passes != 1 || left == 0) {
        return;
    }
    const std::size_t filtered = (s.file_row_bytes + 1) * s.height;
    const detail::byte_source source{[](void* c, unsigned char* out, std::size_t count) {
                                         return take_source(*static_cast<read_state*>(c), out, count);
                                     },
                                     &s};
    if (s.feed.load(s.recent, source, left, s.pixels + (s.room - filtered), filtered)) {
        // The made-up chunks carry no CRC: skipped, then checked again.
        png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_ERROR_QUIT);
    }
    s.feeding = true;
}
#endif

// The pixels, the sink told of each row done (of an interlaced image, of
// all rows at the end: only the last pass completes any).
void read_pixels(png_structp png, read_state& s, row_sink sink) {
#if TAPSMITH_HAVE_LIBDEFLATE
    start_feed(png, s);
#endif
    const bool told = s.passes == 1 && sink.done != nullptr;
    for (int pass = 0; pass < s.passes; ++pass) {
        for (std::uint32_t y = 0; y < s.height; ++y) {
            png_read_row(png, s.pixels + std::size_t{y} * s.row_bytes, nullptr);
            if (s.passes == 1 && s.indexed && !to_samples(s, y)) {
                s.diag.why = failure::bad_index;
                png_error(png, "bad index");
            }
            if (told) {
                sink.done(sink.context, y + 1);
            }
        }
    }
    for (std::uint32_t y = 0; s.passes > 1 && s.indexed && y < s.height; ++y) {
        if (!to_samples(s, y)) {
            s.diag.why = failure::bad_index;
            png_error(png, "bad index");
        }
    }
    // Reads up to IEND, so that a damaged or missing end is noticed too.
    png_read_end(png, nullptr);
}

bool decode_head(png_structp png, png_infop info, read_state* s) {
    // NOLINTNEXTLINE(cert-err52-cpp): libpng reports errors by longjmp
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    read_head(png, info, *s);
    return true;
}

bool decode_pixels(png_structp png, read_state* s, row_sink sink) {
    // NOLINTNEXTLINE(cert-err52-cpp): libpng reports errors by longjmp
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    read_pixels(png, *s, sink);
    return true;
}

void append_number(std::string& text, std::uint64_t value) {
    char digits[24];
    auto* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

std::string describe_read(const read_state& s, const char* name) {
    std::string text = name;
    text += ": ";
    failure why = s.diag.why;
    std::uint64_t width = s.width;
    std::uint64_t height = s.height;
    const std::string_view detail = s.diag.message;
    // libpng refused IHDR (its checks, or a side past 2^31 - 1): the size
    // as the file states it says why.
    if (why == failure::libpng && s.diag.chunk == ihdr_chunk) {
        width = png_get_uint_32(s.ihdr_size);
        height = png_get_uint_32(s.ihdr_size + 4);
        why = width == 0 || height == 0                    ? failure::no_pixels
              : width * height > s.max_pixels              ? failure::too_large
              : s.diag.at_crc && s.diag.warning[0] == '\0' ? failure::bad_crc
                                                           : failure::bad_header;
    } else if (why == failure::libpng && s.diag.at_crc) {
        why = failure::bad_crc;
    }
    switch (why) {
        case failure::not_png:
            text += "not a PNG file";
            break;
        case failure::truncated:
            text += "truncated";
            break;
        case failure::io:
            text += "read error: ";
            text += std::strerror(s.diag.error_number);
            break;
        case failure::too_large:
            text += "image too large (";
            append_number(text, width * height);
            text += " pixels, at most ";
            append_number(text, s.max_pixels);
            text += ')';
            break;
        case failure::no_pixels:
            text += "image has no pixels (width ";
            append_number(text, width);
            text += ", height ";
            append_number(text, height);
            text += ')';
            break;
        case failure::no_memory:
            text += "out of memory";
            break;
        case failure::bad_header:
            text += "invalid header (";
            text += s.diag.warning;
            text += ')';
            break;
        case failure::layout:
            text += "unsupported pixel layout";
            break;
        case failure::bad_index:
            text += "palette index beyond the palette";
            break;
        case failure::bad_crc: {
            const std::uint32_t c = s.diag.chunk;
            const char chunk[] = {static_cast<char>(c >> 24U), static_cast<char>(c >> 16U),
                                  static_cast<char>(c >> 8U), static_cast<char>(c), '\0'};
            text += "CRC error in ";
            text += chunk;
            text += " chunk";
            break;
        }
        case failure::libpng:
        case failure::none:
            text += "invalid PNG (";
            text += detail;
            text += ')';
            break;
    }
    return text;
}

struct write_state {
    diagnosis diag;
    std::FILE* file = nullptr;
    const image* img = nullptr;
    int compression = default_png_compression;
    row_source rows;
};

void write_bytes(png_structp png, png_bytep data, std::size_t count) {
    auto* s = static_cast<write_state*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, count, s->file) != count) {
        if (s->diag.why == failure::none) {
            s->diag.why = failure::io;
            s->diag.error_number = errno;
        }
        png_error(png, "write error");
    }
}

// The file is flushed once, when closed.
void flush_nothing(png_structp /*png*/) {}

void write_body(png_structp png, png_infop info, write_state& s) {
    const image& img = *s.img;
    static constexpr int color_types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                          PNG_COLOR_TYPE_RGB_ALPHA};
    png_set_write_fn(png, &s, write_bytes, flush_nothing);
    png_set_IHDR(png, info, img.width, img.height, static_cast<int>(img.bit_depth),
                 color_types[img.channels - 1], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Fixed settings and no time chunk: the same image, the same bytes.
    // Levels 2 .. 9 (0 and 1 are png_band_writer's) try every filter.
    png_set_compression_level(png, std::clamp(s.compression, 2, 9));
    png_set_compression_mem_level(png, 8);
    png_set_compression_window_bits(png, 15);
    png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_write_info(png, info);
    // 16-bit samples go out big-endian: libpng swaps the host's order, on a
    // copy of the row.
    if (img.bit_depth == 16 && std::endian::native == std::endian::little) {
        png_set_swap(png);
    }

    // libpng filters a copy of each row.
    const std::size_t row_bytes = std::size_t{img.width} * img.channels * (img.bit_depth / 8);
    const auto* const rows = static_cast<const unsigned char*>(img.data.get());
    std::uint32_t ready = s.rows.wait == nullptr ? img.height : 0;
    for (std::uint32_t y = 0; y < img.height; ++y) {
        if (y >= ready) {
            ready = s.rows.wait(s.rows.context, y + 1);
        }
        png_write_row(png, rows + std::size_t{y} * row_bytes);
    }
    png_write_end(png, nullptr);
}

bool encode(png_structp png, png_infop info, write_state* s) {
    // NOLINTNEXTLINE(cert-err52-cpp): libpng reports errors by longjmp
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    write_body(png, info, *s);
    return true;
}

bool run_write(write_state* s) {
    png_structp png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &s->diag, on_error, on_warning,
                                                nullptr, allocate, release);
    if (png == nullptr) {
        s->diag.why = failure::no_memory;
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        s->diag.why = failure::no_memory;
        return false;
    }
    const bool ok = encode(png, info, s);
    png_destroy_write_struct(&png, &info);
    return ok;
}

// Why `img` cannot be written, or null.
const char* unwritable(const image& img) noexcept {
    const std::size_t count = sample_count(img);
    if (count == 0) {
        return "no pixels, more than 2^28, or channels outside 1..4";
    }
    if (img.bit_depth != 8 && img.bit_depth != 16) {
        return "bit depth neither 8 nor 16";
    }
    if (img.alpha != (img.channels == 2 ? 1 : img.channels == 4 ? 3 : -1)) {
        return "alpha channel not the last of 2 or 4";
    }
    if (img.data == nullptr) {
        return "no samples";
    }
    return nullptr;
}

std::string failed(const char* path, const char* what, int error_number) {
    std::string text = path;
    text += ": ";
    text += what;
    if (error_number != 0) {
        text += ": ";
        text += std::strerror(error_number);
    }
    return text;
}

}  // namespace

std::string detail::unwritten(const char* name, std::string_view why) {
    std::string text = "cannot write '";
    text += name;
    text += "': ";
    text += why;
    return text;
}

using detail::unwritten;

std::size_t sample_count(const image& img) noexcept {
    if (img.width == 0 || img.height == 0 || img.channels < 1 || img.channels > 4) {
        return 0;
    }
    const std::uint64_t pixels = std::uint64_t{img.width} * img.height;
    const std::uint64_t samples = pixels * img.channels;
    if (pixels > max_image_pixels ||
        samples > std::numeric_limits<std::size_t>::max() / sizeof(std::uint16_t)) {
        return 0;
    }
    return static_cast<std::size_t>(samples);
}

bool make_image(image& img, std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                std::uint32_t bit_depth) noexcept {
    img = image{};
    image shape;
    shape.width = width;
    shape.height = height;
    shape.channels = channels;
    shape.alpha = channels == 2 ? 1 : channels == 4 ? 3 : -1;
    shape.bit_depth = bit_depth;
    const std::size_t count = sample_count(shape);
    if (count == 0 || (bit_depth != 8 && bit_depth != 16)) {
        return false;
    }
    const std::size_t size = bit_depth / 8;
    shape.data.reset(std::calloc(count, size));
    if (shape.data == nullptr) {
        return false;
    }
    advise_huge_pages(shape.data.get(), count * size);
    img = std::move(shape);
    return true;
}

struct png_reader::state {
    std::vector<char> buffer;  // the file's, closed before this goes
    read_state s;
    std::string name;
    png_structp png = nullptr;
    png_infop info = nullptr;
    bool ready = false;  // the head read, the pixels not yet

    state() = default;
    state(const state&) = delete;
    state& operator=(const state&) = delete;
    ~state() {
        if (png != nullptr) {
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        }
        if (s.file != nullptr) {
            (void)std::fclose(s.file);
        }
    }

    std::string open(image& out) {
        out = image{};
        unsigned char signature[8];
        const std::size_t got = take(s, signature, sizeof signature);
        if (s.diag.why == failure::none) {
            if (got == 0 || png_sig_cmp(signature, 0, got) != 0) {
                s.diag.why = failure::not_png;
            } else if (got < sizeof signature) {
                s.diag.why = failure::truncated;
            }
        }
        if (s.diag.why != failure::none) {
            return describe_read(s, name.c_str());
        }
        png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &s.diag, on_error, on_warning, nullptr,
                                       allocate, release);
        info = png == nullptr ? nullptr : png_create_info_struct(png);
        if (info == nullptr) {
            s.diag.why = failure::no_memory;
            return describe_read(s, name.c_str());
        }
        if (!decode_head(png, info, &s)) {
            std::free(s.pixels);
            s.pixels = nullptr;
            return describe_read(s, name.c_str());
        }
        out.width = s.width;
        out.height = s.height;
        out.channels = s.channels;
        out.alpha = s.channels == 2 ? 1 : s.channels == 4 ? 3 : -1;
        out.bit_depth = s.bit_depth;
        out.data.reset(s.pixels);
        ready = true;
        return {};
    }
};

png_reader::png_reader() : s_(new state) {}

png_reader::~png_reader() = default;

std::string png_reader::open(const char* path, image& out, std::uint64_t max_pixels) {
    s_ = std::make_unique<state>();
    s_->name = path;
    s_->s.max_pixels = max_pixels;
    s_->s.file = std::fopen(path, "rb");
    if (s_->s.file == nullptr) {
        out = image{};
        return failed(path, "cannot open", errno);
    }
    // libpng asks for a chunk at a time, a few KiB: through stdio's own
    // buffer that is a system call each (2,500 for a 10 MB file), each
    // costly in a virtual machine. A buffer of our own makes them a few
    // dozen (glibc keeps its own size when given none).
    s_->buffer.resize(std::size_t{256} << 10U);
    static_cast<void>(std::setvbuf(s_->s.file, s_->buffer.data(), _IOFBF, s_->buffer.size()));
    return s_->open(out);
}

std::string png_reader::open(const void* data, std::size_t size, const char* name, image& out,
                             std::uint64_t max_pixels) {
    s_ = std::make_unique<state>();
    s_->name = name;
    s_->s.max_pixels = max_pixels;
    s_->s.data = static_cast<const unsigned char*>(data);
    s_->s.size = data == nullptr ? 0 : size;
    return s_->open(out);
}

std::string png_reader::read_rows(row_sink sink) {
    state& st = *s_;
    if (!st.ready) {
        return describe_read(st.s, st.name.c_str());
    }
    st.ready = false;
    return decode_pixels(st.png, &st.s, sink) ? std::string() : describe_read(st.s, st.name.c_str());
}

namespace {

// The pixels after an open() that said `problem`: "" with `out` whole, or
// the message with `out` empty.
std::string read_all(png_reader& reader, std::string problem, image& out) {
    if (problem.empty()) {
        problem = reader.read_rows();
    }
    if (!problem.empty()) {
        out = image{};
    }
    return problem;
}

}  // namespace

std::string read_png(const char* path, image& out, std::uint64_t max_pixels) {
    png_reader reader;
    return read_all(reader, reader.open(path, out, max_pixels), out);
}

std::string read_png(const void* data, std::size_t size, const char* name, image& out,
                     std::uint64_t max_pixels) {
    png_reader reader;
    return read_all(reader, reader.open(data, size, name, out, max_pixels), out);
}

std::string write_png(std::FILE* stream, const char* name, const image& img, int compression,
                      row_source rows) {
    if (const char* why = unwritable(img); why != nullptr) {
        return unwritten(name, std::string("not an image it can write: ") + why);
    }
    if (compression <= 1) {
        png_band_writer bands(stream, name, img, compression);
        std::uint32_t ready = rows.wait == nullptr ? img.height : 0;
        for (std::size_t b = 0; b < bands.bands(); ++b) {
            if (bands.rows_needed(b) > ready) {
                ready = rows.wait(rows.context, bands.rows_needed(b));
            }
            bands.write_band(b);
        }
        return bands.finish();
    }
    write_state s;
    s.file = stream;
    s.img = &img;
    s.compression = compression;
    s.rows = rows;
    if (run_write(&s)) {
        return {};
    }
    if (s.diag.why == failure::io) {
        return unwritten(name, std::strerror(s.diag.error_number));
    }
    if (s.diag.why == failure::no_memory) {
        return unwritten(name, "out of memory");
    }
    return unwritten(name, std::string("PNG encoder error: ") + s.diag.message);
}

std::string write_png(const char* path, const image& img, int compression) {
    cli::staged_files files;
    std::string problem = files.add(path);
    if (problem.empty()) {
        problem = write_png(files.stream(0), path, img, compression);
    }
    return problem.empty() ? files.commit() : problem;
}

}  // namespace tapsmith
