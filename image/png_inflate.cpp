// SPDX-License-Identifier: MIT
#include "png_inflate.hpp"
#include "png_detail.hpp"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace tapsmith::detail {

namespace {

constexpr unsigned char idat_type[4] = {'I', 'D', 'A', 'T'};
// A stored block's most bytes, and the block with its header.
constexpr std::uint64_t block_data = 65535;
constexpr std::uint64_t block_bytes = block_data + 5;
// The made-up chunks' length (the last may be shorter).
constexpr std::uint64_t made_up_chunk = std::uint64_t{1} << 30U;

// An IDAT chunk's data in what was read.
struct piece {
    std::size_t at;
    std::size_t length;
    std::uint32_t crc;  // as the file gives it
};

struct decompressor_free {
    void operator()(libdeflate_decompressor* d) const noexcept { libdeflate_free_decompressor(d); }
};

}  // namespace

bool idat_feed::load(const unsigned char* header, byte_source source, std::size_t expected,
                     unsigned char* into, std::size_t size) {
    if (std::memcmp(header + 4, idat_type, 4) != 0) {
        return false;
    }
    const std::uint32_t first_length = get32(header);
    // Room for the rest of the file at once: no copy as it grows, and no
    // more than the file however long a chunk claims to be. Without it,
    // nothing is read and libpng reads as ever.
    raw_.reset(static_cast<unsigned char*>(std::malloc(expected)));
    if (raw_ == nullptr) {
        return false;
    }
    room_ = expected;
    // Appends `count` bytes of the file to raw_: whether all came.
    const auto read = [&](std::size_t count) {
        const std::size_t want = std::min(count, room_ - raw_size_);
        const std::size_t got = source.read(source.context, raw_.get() + raw_size_, want);
        raw_size_ += got;
        return got == count;
    };
    unsigned char* const raw = raw_.get();
    std::vector<piece> pieces;
    std::size_t length = first_length;
    bool whole = true;
    for (;;) {
        const std::size_t at = raw_size_;
        if (!read(length + 4)) {
            whole = false;
            break;
        }
        // Many tiny chunks would make the list longer than the file: read as ever.
        if (pieces.size() > expected / 256 + 16) {
            whole = false;
            break;
        }
        pieces.push_back({at, length, get32(&raw[at + length])});
        // The next chunk's header: another IDAT, or the end of them.
        if (!read(8)) {
            whole = false;
            break;
        }
        const unsigned char* next_header = &raw[raw_size_ - 8];
        const std::uint32_t next = get32(next_header);
        if (std::memcmp(next_header + 4, idat_type, 4) != 0 || next > 0x7fffffffU) {
            std::memcpy(tail_, next_header, 8);
            tail_size_ = 8;
            break;
        }
        length = next;
    }
    if (!whole) {
        return false;
    }
    for (const piece& p : pieces) {
        const uLong crc = crc32_z(crc32_z(0, idat_type, 4), &raw[p.at], p.length);
        if (crc != p.crc) {
            return false;
        }
    }
    // The zlib stream whole at raw_'s start, each piece moved down over the
    // framing before it.
    std::size_t z_size = 0;
    for (const piece& p : pieces) {
        std::memmove(&raw[z_size], &raw[p.at], p.length);
        z_size += p.length;
    }
    const auto restore = [&] {
        // Back where each was, the last first (a piece only ever moved down,
        // past the framing of those before it), with that framing.
        for (std::size_t k = pieces.size(); k-- > 0;) {
            z_size -= pieces[k].length;
            std::memmove(&raw[pieces[k].at], &raw[z_size], pieces[k].length);
            put32(&raw[pieces[k].at + pieces[k].length], pieces[k].crc);
            if (k > 0) {
                put32(&raw[pieces[k].at - 8], static_cast<std::uint32_t>(pieces[k].length));
                std::memcpy(&raw[pieces[k].at - 4], idat_type, 4);
            }
        }
        return false;
    };
    // zlib's header: deflate, a window PNG allows, no preset dictionary.
    if (z_size < 6 || (raw[0] & 0x0fU) != 8 || (raw[0] >> 4U) > 7 || (raw[1] & 0x20U) != 0 ||
        ((unsigned{raw[0]} << 8U) | raw[1]) % 31 != 0) {
        return restore();
    }
    const std::unique_ptr<libdeflate_decompressor, decompressor_free> d(libdeflate_alloc_decompressor());
    if (d == nullptr) {
        return restore();
    }
    std::size_t used = 0;
    std::size_t made = 0;
    // The Adler-32 after the stream is not checked: the CRCs cover it.
    const libdeflate_result r =
        libdeflate_deflate_decompress_ex(d.get(), &raw[2], z_size - 2, into, size, &used, &made);
    if (r != LIBDEFLATE_SUCCESS || made != size || used + 6 != z_size) {
        return restore();
    }
    rows_ = into;
    size_ = size;
    const std::uint64_t blocks = size == 0 ? 1 : (size + block_data - 1) / block_data;
    z_total_ = 2 + 5 * blocks + size + 4;
    if (z_total_ < first_length) {
        return restore();  // libpng has been told of a first chunk longer than the whole of it
    }
    chunk_left_ = first_length;
    raw_.reset();
    raw_size_ = 0;
    loaded_ = true;
    return true;
}

// The made-up zlib stream: a header, stored blocks of the rows, and four
// bytes where its Adler-32 would be.
void idat_feed::zlib_bytes(std::uint64_t at, unsigned char* out, std::size_t count) const {
    while (count > 0) {
        if (at < 2) {
            *out++ = at == 0 ? 0x78 : 0x01;
            ++at;
            --count;
            continue;
        }
        if (at >= z_total_ - 4) {
            std::memset(out, 0, count);
            return;
        }
        const std::uint64_t block = (at - 2) / block_bytes;
        const std::uint64_t within = (at - 2) % block_bytes;
        const std::uint64_t first = block * block_data;
        const std::uint64_t length = std::min<std::uint64_t>(block_data, size_ - first);
        if (within < 5) {
            const bool last = first + length == size_;
            const auto len16 = static_cast<std::uint16_t>(length);
            const auto nlen16 = static_cast<std::uint16_t>(~len16);
            const unsigned char head[5] = {
                static_cast<unsigned char>(last ? 1 : 0), static_cast<unsigned char>(len16 & 0xffU),
                static_cast<unsigned char>(len16 >> 8U), static_cast<unsigned char>(nlen16 & 0xffU),
                static_cast<unsigned char>(nlen16 >> 8U)};
            *out++ = head[within];
            ++at;
            --count;
            continue;
        }
        const std::uint64_t offset = within - 5;
        const std::size_t run = static_cast<std::size_t>(std::min<std::uint64_t>(count, length - offset));
        std::memcpy(out, rows_ + first + offset, run);
        out += run;
        at += run;
        count -= run;
    }
}

std::size_t idat_feed::serve_raw(unsigned char* out, std::size_t count) {
    const std::size_t n = std::min(count, raw_size_ - raw_at_);
    if (n > 0) {
        std::memcpy(out, raw_.get() + raw_at_, n);
        raw_at_ += n;
    }
    return n;
}

std::size_t idat_feed::serve(unsigned char* out, std::size_t count) {
    if (!loaded_) {
        return serve_raw(out, count);
    }
    std::size_t given = 0;
    while (given < count) {
        if (between_at_ < between_size_) {
            const std::size_t n = std::min(count - given, between_size_ - between_at_);
            std::memcpy(out + given, between_ + between_at_, n);
            between_at_ += n;
            given += n;
        } else if (chunk_left_ > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count - given, chunk_left_));
            zlib_bytes(z_at_, out + given, n);
            z_at_ += n;
            chunk_left_ -= n;
            given += n;
        } else if (tail_started_) {
            const std::size_t n = std::min(count - given, tail_size_ - tail_at_);
            if (n == 0) {
                break;
            }
            std::memcpy(out + given, tail_ + tail_at_, n);
            tail_at_ += n;
            given += n;
        } else if (in_chunk_) {
            // A chunk's data ended: its CRC (not checked), then the next one's header.
            std::memset(between_, 0, 4);
            between_size_ = 4;
            between_at_ = 0;
            in_chunk_ = z_at_ < z_total_;
            if (in_chunk_) {
                chunk_left_ = std::min(z_total_ - z_at_, made_up_chunk);
                put32(between_ + 4, static_cast<std::uint32_t>(chunk_left_));
                std::memcpy(between_ + 8, idat_type, 4);
                between_size_ = 12;
            }
        } else {
            // The file's own bytes from here, in a call of their own, so
            // that libpng checks CRCs again before it reads them.
            if (given > 0) {
                break;
            }
            tail_started_ = true;
        }
    }
    return given;
}

}  // namespace tapsmith::detail
