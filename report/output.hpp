// The report's own output buffer: text accumulates here and reaches the file
// descriptor in as few write calls as possible (one for any report), and the
// first failed write is remembered so that a lost report is never success.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tapsmith {

struct output {
    int fd = 1;
    int error = 0;  // errno of the first failed write, 0 while all went out
    std::size_t used = 0;
    std::array<char, 16384> data;  // left uninitialised: only [0, used) is ever read
};

void put(output& out, std::string_view text) noexcept;

// One table entry: the value right-aligned in `width` columns, as "%*ld "
// prints it, then one space. Integers are formatted here rather than by
// printf because the tables are most of the report's text.
void put_entry(output& out, std::int64_t value, int width) noexcept;

void put_format(output& out, const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));

// Writes what is left; returns the errno of the first failed write, or 0.
int flush(output& out) noexcept;

}  // namespace tapsmith
