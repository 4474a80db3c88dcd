// SPDX-License-Identifier: MIT
// The fast compressions written without libpng, so that threads can share
// them. A PNG's pixels are one zlib stream, but a raw deflate stream that
// ends in a sync flush stops on a byte boundary with nothing pending, and
// such streams joined end to end are one stream: each band of rows is
// filtered and deflated on its own, by whichever thread takes it, and the
// file gets the bands in order, each as an IDAT chunk, the stream's header
// before the first and its Adler-32 (combined band by band) after the last.
// Run-length matches reach one byte back and Huffman codes alone none, so
// a band starting afresh costs a few bytes.
#include "png_detail.hpp"
#include "tapsmith/image/png.hpp"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace tapsmith {

namespace {

using detail::put32;

// About this many bytes of filtered rows a band: enough for deflate's
// start to vanish in it, few enough to share a tall image among threads.
constexpr std::size_t band_bytes = std::size_t{256} << 10U;
// Filtered bytes go to deflate this many at a time, whatever the width.
constexpr std::size_t piece_bytes = std::size_t{64} << 10U;
// At most this much of a band in one IDAT chunk (chunk lengths stop at 2^31 - 1).
constexpr std::size_t chunk_bytes = std::size_t{1} << 30U;

std::uint32_t crc_of(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
    return static_cast<std::uint32_t>(crc32_z(crc, bytes, count));
}

}  // namespace

struct png_band_writer::state {
    // What a band is deflated with, kept from band to band: zlib's state
    // and the large blocks would otherwise be made, cleared and unmapped
    // again for every band.
    struct kit {
        z_stream z{};
        bool started = false;
        std::vector<unsigned char> bytes;  // a piece as the file has it, the pixel before it first
        std::vector<unsigned char> line;   // the piece filtered, after its row's filter byte
        ~kit() {
            if (started) {
                deflateEnd(&z);
            }
        }
        kit() = default;
        kit(const kit&) = delete;
        kit& operator=(const kit&) = delete;
    };

    // A band's deflated bytes (the first `used` of `bytes`) and their Adler-32.
    struct band {
        std::vector<unsigned char> bytes;
        std::size_t used = 0;
        std::uint32_t adler = 1;
    };

    std::FILE* file = nullptr;
    const char* name = nullptr;
    const image* img = nullptr;
    image_rows where;  // the rows, when not img's samples
    int level = 1;
    std::size_t row_bytes = 0;  // in the file, without the filter byte
    std::size_t pixel_bytes = 0;
    std::uint32_t band_rows = 1;
    std::size_t bands = 0;

    std::mutex lock;
    std::vector<std::unique_ptr<kit>> kits;  // those no thread is using
    std::vector<band> spare;                 // buffers of bands written
    // Band b's deflated bytes until written.
    std::vector<band> done;
    std::vector<char> ready;
    std::size_t next = 0;  // the next band the file takes
    std::uint32_t adler = 1;
    int error_number = 0;
    bool no_memory = false;
    bool failed = false;

    void write(const unsigned char* bytes, std::size_t count) {
        if (!failed && count > 0 && std::fwrite(bytes, 1, count, file) != count) {
            failed = true;
            error_number = errno;
        }
    }

    // A chunk whose data is the pieces given, in order.
    void chunk(const char (&type)[5],
               std::initializer_list<std::pair<const unsigned char*, std::size_t>> data) {
        std::size_t length = 0;
        for (const auto& [bytes, count] : data) {
            length += count;
        }
        unsigned char head[8];
        put32(head, static_cast<std::uint32_t>(length));
        std::memcpy(head + 4, type, 4);
        write(head, sizeof head);
        std::uint32_t crc = crc_of(0, head + 4, 4);
        for (const auto& [bytes, count] : data) {
            write(bytes, count);
            crc = crc_of(crc, bytes, count);
        }
        unsigned char tail[4];
        put32(tail, crc);
        write(tail, sizeof tail);
    }

    void begin() {
        static constexpr unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        static constexpr unsigned char colour_types[] = {0, 4, 2, 6};
        write(signature, sizeof signature);
        unsigned char ihdr[13] = {};
        put32(ihdr, img->width);
        put32(ihdr + 4, img->height);
        ihdr[8] = static_cast<unsigned char>(img->bit_depth);
        ihdr[9] = colour_types[img->channels - 1];
        chunk("IHDR", {{ihdr, sizeof ihdr}});
    }

    [[nodiscard]] const unsigned char* row_of(std::uint32_t y) const {
        return where.row != nullptr
                   ? static_cast<const unsigned char*>(where.row(where.context, y))
                   : static_cast<const unsigned char*>(img->data.get()) + std::size_t{y} * row_bytes;
    }

    // Bytes from .. from + count - 1 of row y of 16-bit samples in the
    // host's little-endian order into `to`, as the file has them: big-endian.
    void file_bytes(std::uint32_t y, std::size_t from, std::size_t count, unsigned char* to) const {
        const unsigned char* const row = row_of(y);
        // `from` and `count` are whole samples: pixels are, and pieces are 64 KiB.
        for (std::size_t i = 0; i < count; i += 2) {
            std::uint16_t sample = 0;
            std::memcpy(&sample, row + from + i, 2);
            sample = static_cast<std::uint16_t>(sample << 8U | sample >> 8U);
            std::memcpy(to + i, &sample, 2);
        }
    }

    // Band b's bytes before deflate: its rows, each with its filter byte.
    [[nodiscard]] std::size_t band_bytes(std::size_t b) const {
        const std::size_t first = b * band_rows;
        return (std::min<std::size_t>(img->height, first + band_rows) - first) * (row_bytes + 1);
    }

    // Piece `at` of row y filtered (Sub at level 1, None at 0) into k.line,
    // after the row's filter byte if it is the first: its length there.
    std::size_t filter_piece(std::uint32_t y, std::size_t at, kit& k) const {
        const std::size_t count = std::min(piece_bytes, row_bytes - at);
        const std::size_t before = std::min(at, pixel_bytes);
        const unsigned char* now = nullptr;
        if (img->bit_depth == 8 || std::endian::native == std::endian::big) {
            now = row_of(y) + at;  // the file's bytes already
        } else {
            file_bytes(y, at - before, before + count, k.bytes.data() + pixel_bytes - before);
            now = k.bytes.data() + pixel_bytes;
        }
        const std::size_t lead = at == 0 ? 1 : 0;
        k.line[0] = level == 1 ? 1 : 0;
        unsigned char* const to = k.line.data() + lead;
        // Sub: each byte less the same byte of the pixel before (none: 0).
        const std::size_t head = level == 0 ? count : std::min(count, pixel_bytes - before);
        std::memcpy(to, now, head);
        // The pixel before may lie before `now` (a piece after the first):
        // a signed step back, never an unsigned one that wraps.
        const auto back = static_cast<std::ptrdiff_t>(pixel_bytes);
        for (std::size_t i = head; i < count; ++i) {
            const auto at_i = static_cast<std::ptrdiff_t>(i);
            to[i] = static_cast<unsigned char>(now[at_i] - now[at_i - back]);
        }
        return lead + count;
    }

    // Whether band b is mostly long runs, as flat areas and test patterns
    // are: over 30 % of the bytes of two of its rows' (filtered) first
    // pieces end a run of five alike.
    bool long_runs(std::size_t b, kit& k) const {
        const auto first = static_cast<std::uint32_t>(b) * band_rows;
        const std::uint32_t rows = std::min(img->height - first, band_rows);
        std::size_t runs = 0;
        std::size_t bytes = 0;
        for (const std::uint32_t y : {first, first + rows / 2}) {
            const std::size_t length = filter_piece(y, 0, k);
            const unsigned char* const f = k.line.data();
            for (std::size_t i = 5; i < length; ++i) {
                const bool five =
                    f[i] == f[i - 1] && f[i] == f[i - 2] && f[i] == f[i - 3] && f[i] == f[i - 4];
                runs += five ? 1 : 0;
            }
            bytes += length;
        }
        return runs * 10 > bytes * 3;
    }

    // Band b filtered and deflated into `out`. Level 1 takes Huffman codes
    // alone, which do as well as run-length matches on photographs and
    // filtered noise in half the time, except on bands of long runs,
    // which the matches shrink far more, and fast.
    bool deflate_band(std::size_t b, kit& k, band& out) const {
        z_stream& z = k.z;
        // Raw deflate: the zlib header and check are written around the bands.
        if (!k.started) {
            if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
                return false;
            }
            k.started = true;
            k.bytes.resize(pixel_bytes + std::min(piece_bytes, row_bytes));
            k.line.resize(1 + std::min(piece_bytes, row_bytes));
        }
        const int strategy = level == 0 ? Z_DEFAULT_STRATEGY : long_runs(b, k) ? Z_RLE : Z_HUFFMAN_ONLY;
        if (deflateReset(&z) != Z_OK || deflateParams(&z, level, strategy) != Z_OK) {
            return false;
        }
        const auto first = static_cast<std::uint32_t>(b) * band_rows;
        const std::uint32_t last = std::min(img->height, first + band_rows);
        // Deflate's bound on what it makes, up to a few MiB: more, if needed, as it comes.
        const std::size_t bound =
            deflateBound(&z,
                         static_cast<uLong>(std::min<std::size_t>(band_bytes(b), std::size_t{4} << 20U))) +
            64;
        if (out.bytes.size() < bound) {
            out.bytes.resize(bound);
        }
        out.used = 0;
        out.adler = 1;
        const auto feed = [&](const unsigned char* in, std::size_t count, int flush) {
            if (count > 0) {  // Adler-32 of no bytes at all is its start, whatever came before
                out.adler = static_cast<std::uint32_t>(adler32_z(out.adler, in, count));
            }
            z.next_in = const_cast<unsigned char*>(in);  // zlib's interface; it only reads
            z.avail_in = static_cast<uInt>(count);
            do {
                if (out.bytes.size() - out.used < 64) {
                    out.bytes.resize(out.bytes.size() + out.bytes.size() / 2 + 64);
                }
                z.next_out = out.bytes.data() + out.used;
                z.avail_out =
                    static_cast<uInt>(std::min<std::size_t>(out.bytes.size() - out.used, 1UL << 30U));
                const std::size_t room = z.avail_out;
                deflate(&z, flush);
                out.used += room - z.avail_out;
            } while (z.avail_in > 0 || z.avail_out == 0);
        };
        for (std::uint32_t y = first; y < last; ++y) {
            for (std::size_t at = 0; at < row_bytes; at += piece_bytes) {
                feed(k.line.data(), filter_piece(y, at, k), Z_NO_FLUSH);
            }
        }
        // The last band ends the stream; the others stop on a byte boundary.
        feed(nullptr, 0, last == img->height ? Z_FINISH : Z_SYNC_FLUSH);
        return true;
    }

    // Band b's bytes into the file as IDAT chunks.
    void put_band(std::size_t b) {
        // The zlib header: deflate with a 32 KiB window, the fastest level.
        static constexpr unsigned char header[] = {0x78, 0x01};
        const band& out = done[b];
        unsigned char check[4];
        put32(check, adler);
        std::size_t at = 0;
        do {
            const std::size_t count = std::min(chunk_bytes, out.used - at);
            const bool first = b == 0 && at == 0;
            const bool last = b + 1 == bands && at + count == out.used;
            chunk("IDAT", {{header, first ? sizeof header : 0},
                           {out.bytes.data() + at, count},
                           {check, last ? sizeof check : 0}});
            at += count;
        } while (at < out.used);
    }
};

png_band_writer::png_band_writer(std::FILE* stream, const char* name, const image& img, int compression,
                                 image_rows rows)
    : s_(new state) {
    state& s = *s_;
    s.where = rows;
    s.file = stream;
    s.name = name;
    s.img = &img;
    s.level = std::clamp(compression, 0, 1);
    s.pixel_bytes = std::size_t{img.channels} * (img.bit_depth / 8);
    s.row_bytes = std::size_t{img.width} * s.pixel_bytes;
    s.band_rows = band_rows(img);
    s.bands = (std::size_t{img.height} + s.band_rows - 1) / s.band_rows;
    s.done.resize(s.bands);
    s.ready.assign(s.bands, 0);
    s.begin();
}

png_band_writer::~png_band_writer() = default;

std::uint32_t png_band_writer::band_rows(const image& img) {
    const std::size_t row_bytes = std::size_t{img.width} * img.channels * (img.bit_depth / 8);
    return static_cast<std::uint32_t>(
        std::clamp<std::size_t>(band_bytes / (row_bytes + 1), 1, std::size_t{img.height}));
}

std::size_t png_band_writer::bands() const {
    return s_->bands;
}

std::uint32_t png_band_writer::rows_needed(std::size_t band) const {
    return static_cast<std::uint32_t>(
        std::min<std::size_t>(s_->img->height, (band + 1) * std::size_t{s_->band_rows}));
}

void png_band_writer::write_band(std::size_t b) {
    state& s = *s_;
    std::unique_ptr<state::kit> k;
    state::band out;
    {
        const std::lock_guard<std::mutex> held(s.lock);
        if (!s.kits.empty()) {
            k = std::move(s.kits.back());
            s.kits.pop_back();
        }
        if (!s.spare.empty()) {
            out = std::move(s.spare.back());
            s.spare.pop_back();
        }
    }
    if (k == nullptr) {
        k = std::make_unique<state::kit>();
    }
    const bool made = s.deflate_band(b, *k, out);
    const std::lock_guard<std::mutex> held(s.lock);
    s.kits.push_back(std::move(k));
    if (!made) {
        s.no_memory = true;
    }
    s.done[b] = std::move(out);
    s.ready[b] = 1;
    // Whatever is next for the file, in order.
    for (; s.next < s.bands && s.ready[s.next] != 0; ++s.next) {
        // Joining two Adler-32s takes the second's length modulo 65521
        // only: so reduced, a band longer than z_off_t holds still joins.
        const std::size_t length = s.band_bytes(s.next) % 65521;
        s.adler = static_cast<std::uint32_t>(
            adler32_combine(s.adler, s.done[s.next].adler, static_cast<z_off_t>(length)));
        if (!s.no_memory) {
            s.put_band(s.next);
        }
        s.spare.push_back(std::move(s.done[s.next]));
    }
}

std::string png_band_writer::finish() {
    state& s = *s_;
    static constexpr unsigned char iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    s.write(iend, sizeof iend);
    if (s.no_memory) {
        return detail::unwritten(s.name, "out of memory");
    }
    if (s.failed) {
        return detail::unwritten(s.name, std::strerror(s.error_number));
    }
    return {};
}

}  // namespace tapsmith
