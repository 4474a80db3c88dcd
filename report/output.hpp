// SPDX-License-Identifier: MIT
// The report's own output buffer: text accumulates here and reaches the file
// descriptor in as few write calls as possible (one for any report), and the
// first failed write is remembered so that a lost report is never success.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tapsmith {

struct output {
    int fd = 1;
    int error = 0;  // errno of the first failed write, 0 while all went out
    std::size_t used = 0;
    std::array<char, 16384> data;  // left uninitialised: only [0, used) is ever read
};

// Text that does not fit goes out in pieces through here.
void put_long(output& out, std::string_view text) noexcept;

// Inline, so that the copy of a literal compiles to a few moves. An empty
// view may have no data at all, which memcpy must not be given.
inline void put(output& out, std::string_view text) noexcept {
    if (text.empty()) {
        return;
    }
    if (text.size() <= out.data.size() - out.used) {
        std::memcpy(out.data.data() + out.used, text.data(), text.size());
        out.used += text.size();
    } else {
        put_long(out, text);
    }
}

// The value right-aligned in `width` columns, as printf's "%*" PRId64 prints it.
// Integers are formatted here rather than by printf because the tables are
// most of the report's text.
void put_int(output& out, std::int64_t value, int width = 0) noexcept;

// One table row: every value as put_int prints it followed by one space,
// then a line break.
void put_row(output& out, const std::int64_t* values, std::size_t count, int width) noexcept;

// The value as printf's "%f" prints it, through std::to_chars, which the C++
// standard defines as that very conversion.
void put_fixed(output& out, double value) noexcept;

// The shortest text that reads back as the same double (std::to_chars).
void put_shortest(output& out, double value) noexcept;

// `digits` significant digits, as printf's "%.*g" prints them (std::to_chars).
void put_general(output& out, double value, int digits) noexcept;

// Writes what is left; returns the errno of the first failed write, or 0.
int flush(output& out) noexcept;

// The end of a run: flushes, and if anything could not be written says so
// on standard error ("PROGRAM: write error: ..."). Returns the exit status,
// 0 or 1.
int finish(output& out, const char* program) noexcept;

}  // namespace tapsmith
