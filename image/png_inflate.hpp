// SPDX-License-Identifier: MIT
// A PNG's pixel stream inflated by libdeflate, about twice as fast as zlib,
// in one go, then handed to libpng as stored deflate blocks, which it only
// copies: libpng still unfilters, transforms and checks every row. Anything
// unexpected (a CRC that does not match, a stream libdeflate refuses or
// whose length is not the image's, a file that ends) hands libpng the bytes
// as they were read instead, so that it says what is wrong, as it would
// have without this.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tapsmith::detail {

// Reads up to `count` bytes of the file; fewer only at its end or on an error.
struct byte_source {
    std::size_t (*read)(void* context, unsigned char* out, std::size_t count) = nullptr;
    void* context = nullptr;
};

class idat_feed {
  public:
    // With a chunk's `header` (length and type) just taken from `source`,
    // if it is the first IDAT: reads the IDAT chunks and the next chunk's header,
    // at most `expected` bytes (what is left of the file), and inflates
    // them into the `size` bytes at `into`, which must be exactly the
    // filtered rows. True when they are there.
    bool load(const unsigned char* header, byte_source source, std::size_t expected, unsigned char* into,
              std::size_t size);

    // The next bytes for libpng, at most `count`; 0 once all are given
    // (the file's own bytes follow). The stored blocks' chunks carry no CRC
    // (libpng is to skip theirs) and the stream no Adler-32.
    std::size_t serve(unsigned char* out, std::size_t count);
    // Whether the bytes served next are the made-up chunks, whose CRCs
    // libpng must not check; false once the file's own bytes come again.
    [[nodiscard]] bool made_up() const { return loaded_ && !tail_started_; }

  private:
    std::size_t serve_raw(unsigned char* out, std::size_t count);
    void zlib_bytes(std::uint64_t at, unsigned char* out, std::size_t count) const;

    bool loaded_ = false;
    // When loaded: the rows, and where the made-up stream stands.
    const unsigned char* rows_ = nullptr;
    std::size_t size_ = 0;
    std::uint64_t z_total_ = 0;  // the stream's length: header, blocks, check
    std::uint64_t z_at_ = 0;
    std::uint64_t chunk_left_ = 0;
    bool in_chunk_ = true;  // a chunk whose CRC is still to come
    // Bytes between chunks' data: a CRC, the next header; then the tail.
    unsigned char between_[12] = {};
    std::size_t between_size_ = 0;
    std::size_t between_at_ = 0;
    bool tail_started_ = false;
    // The bytes after the IDAT chunks that were read to find their end.
    unsigned char tail_[8] = {};
    std::size_t tail_size_ = 0;
    std::size_t tail_at_ = 0;
    // Otherwise: the bytes as read, given back in order.
    struct free_block {
        void operator()(unsigned char* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<unsigned char, free_block> raw_;
    std::size_t room_ = 0;
    std::size_t raw_size_ = 0;
    std::size_t raw_at_ = 0;
};

}  // namespace tapsmith::detail
