#include "output.hpp"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tapsmith {

namespace {

// Every format the report uses comes out shorter than this; the longest is
// the banner with a sigma near DBL_MAX, about 350 characters.
constexpr std::size_t format_room = 512;

void make_room(output& out, std::size_t size) noexcept {
    if (out.data.size() - out.used < size) {
        flush(out);
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

void put(output& out, std::string_view text) noexcept {
    while (!text.empty()) {
        make_room(out, 1);
        const std::size_t chunk = std::min(text.size(), out.data.size() - out.used);
        std::memcpy(out.data.data() + out.used, text.data(), chunk);
        out.used += chunk;
        text.remove_prefix(chunk);
    }
}

void put_entry(output& out, std::int64_t value, int width) noexcept {
    // Digits are built from the unsigned magnitude so that INT64_MIN needs
    // no negation.
    std::array<char, 24> text{};
    std::size_t pos = text.size();
    text[--pos] = ' ';
    const bool negative = value < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        text[--pos] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        text[--pos] = '-';
    }
    const std::size_t digits = text.size() - pos - 1;
    for (std::size_t pad = digits; pad < static_cast<std::size_t>(width) && pos > 0; ++pad) {
        text[--pos] = ' ';
    }
    put(out, std::string_view(text.data() + pos, text.size() - pos));
}

void put_format(output& out, const char* format, ...) noexcept {
    make_room(out, format_room);
    const std::size_t room = out.data.size() - out.used;
    va_list args;
    va_start(args, format);
    // The analyzer misreads x86-64's array-typed va_list after va_start in C++.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const int length = vsnprintf(out.data.data() + out.used, room, format, args);
    va_end(args);
    out.used += std::min(static_cast<std::size_t>(std::max(length, 0)), room - 1);
}

}  // namespace tapsmith
