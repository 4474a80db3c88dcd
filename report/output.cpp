// SPDX-License-Identifier: MIT
#include "output.hpp"

#include <unistd.h>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace tapsmith {

namespace {

// Room for any single field: "%f" of DBL_MAX is 316 characters.
constexpr std::size_t field_room = 400;

char* make_room(output& out, std::size_t size) noexcept {
    if (out.data.size() - out.used < size) {
        flush(out);
    }
    return out.data.data() + out.used;
}

void advance(output& out, const char* end) noexcept {
    out.used = static_cast<std::size_t>(end - out.data.data());
}

// Decimal digits of v: an estimate from its bit width, corrected by one
// comparison.
int decimal_digits(std::uint64_t v) noexcept {
    static constexpr std::uint64_t powers[] = {1,
                                               10,
                                               100,
                                               1000,
                                               10000,
                                               100000,
                                               1000000,
                                               10000000,
                                               100000000,
                                               1000000000,
                                               10000000000,
                                               100000000000,
                                               1000000000000,
                                               10000000000000,
                                               100000000000000,
                                               1000000000000000,
                                               10000000000000000,
                                               100000000000000000,
                                               1000000000000000000,
                                               10000000000000000000U};
    const int estimate = (static_cast<int>(std::bit_width(v | 1)) * 1233) >> 12;  // 1233/4096 ~ log10(2)
    return estimate + ((v | 1) >= powers[estimate] ? 1 : 0);
}

// The digits of magnitude, written backwards so that they end just before
// end, two at a time. The divisions are what an entry costs, so values that
// fit in 32 bits take the cheaper 32-bit ones.
void write_digits(char* end, std::uint64_t magnitude) noexcept {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    while (magnitude > 0xffffffffU) {
        const auto pair = static_cast<std::size_t>(magnitude % 100) * 2;
        magnitude /= 100;
        end -= 2;
        std::memcpy(end, pairs + pair, 2);
    }
    auto small = static_cast<std::uint32_t>(magnitude);
    while (small >= 100) {
        const std::size_t pair = static_cast<std::size_t>(small % 100) * 2;
        small /= 100;
        end -= 2;
        std::memcpy(end, pairs + pair, 2);
    }
    if (small >= 10) {
        std::memcpy(end - 2, pairs + static_cast<std::size_t>(small) * 2, 2);
    } else {
        end[-1] = static_cast<char>('0' + small);
    }
}

// What format_int may write at most for a field of `width` columns: the
// padding, a sign and 20 digits.
constexpr std::size_t field_bytes(int width) noexcept {
    return 8 + 21 + static_cast<std::size_t>(width);
}

// Writes the field at p and returns its end; p must have field_bytes(width)
// bytes of room.
char* format_int(char* p, std::int64_t value, int width) noexcept {
    // Digits come from the unsigned magnitude so that INT64_MIN needs no
    // negation.
    const bool negative = value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const int digits = decimal_digits(magnitude);
    const int length = digits + (negative ? 1 : 0);
    // Padding goes out eight columns at a time; what lands past it is
    // overwritten by the digits or lies beyond the text.
    for (int column = length; column < width; column += 8) {
        std::memset(p + (column - length), ' ', 8);
    }
    p += std::max(width - length, 0);
    if (negative) {
        *p++ = '-';
    }
    p += digits;
    write_digits(p, magnitude);
    return p;
}

// precision < 0: the shortest round-trip form.
void put_chars(output& out, double value, std::chars_format format, int precision) noexcept {
    char* first = make_room(out, field_room);
    char* last = out.data.data() + out.data.size();
    const std::to_chars_result result = precision < 0 ? std::to_chars(first, last, value)
                                                      : std::to_chars(first, last, value, format, precision);
    // The room above fits every double; should it not, nothing is written.
    if (result.ec == std::errc{}) {
        advance(out, result.ptr);
    }
}

}  // namespace

int flush(output& out) noexcept {
    const char* next = out.data.data();
    std::size_t left = out.used;
    // After a failure the rest is dropped: the run's outcome is already lost.
    while (left > 0 && out.error == 0) {
        const ssize_t written = ::write(out.fd, next, left);
        if (written >= 0) {
            next += written;
            left -= static_cast<std::size_t>(written);
        } else if (errno != EINTR) {
            out.error = errno;
        }
    }
    out.used = 0;
    return out.error;
}

int finish(output& out, const char* program) noexcept {
    const int error = flush(out);
    if (error != 0) {
        (void)std::fprintf(stderr, "%s: write error: %s\n", program, std::strerror(error));
        return 1;
    }
    return 0;
}

void put_long(output& out, std::string_view text) noexcept {
    while (!text.empty()) {
        make_room(out, 1);
        const std::size_t chunk = std::min(text.size(), out.data.size() - out.used);
        std::memcpy(out.data.data() + out.used, text.data(), chunk);
        out.used += chunk;
        text.remove_prefix(chunk);
    }
}

void put_int(output& out, std::int64_t value, int width) noexcept {
    const int columns = std::clamp(width, 0, 64);
    advance(out, format_int(make_room(out, field_bytes(columns)), value, columns));
}

void put_row(output& out, const std::int64_t* values, std::size_t count, int width) noexcept {
    const int columns = std::clamp(width, 0, 64);
    const std::size_t entry_bytes = field_bytes(columns) + 1;
    for (std::size_t done = 0; done < count;) {
        // As many entries as fit go straight into the buffer, with one
        // check for room.
        const std::size_t batch = std::min(count - done, out.data.size() / entry_bytes - 1);
        char* p = make_room(out, batch * entry_bytes + 1);
        for (const std::size_t end = done + batch; done < end; ++done) {
            p = format_int(p, values[done], columns);
            *p++ = ' ';
        }
        advance(out, p);
    }
    char* p = make_room(out, 1);
    *p++ = '\n';
    advance(out, p);
}

void put_fixed(output& out, double value) noexcept {
    put_chars(out, value, std::chars_format::fixed, 6);
}

void put_shortest(output& out, double value) noexcept {
    put_chars(out, value, std::chars_format::general, -1);
}

void put_general(output& out, double value, int digits) noexcept {
    put_chars(out, value, std::chars_format::general, std::clamp(digits, 1, 17));
}

}  // namespace tapsmith
