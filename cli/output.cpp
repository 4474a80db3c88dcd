// SPDX-License-Identifier: MIT
#include "tapsmith/cli/output.hpp"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

namespace tapsmith::cli {

namespace {

// Widths beyond this are no table's; the field still fits output::max_field.
constexpr int max_width = 64;

// Fixed-size copies compile to a few moves, and the room behind p (at
// least output::max_field bytes) takes the bytes past the field.
char* write_int(char* p, std::int64_t value, int width) noexcept {
    char digits[24];
    const std::to_chars_result r = std::to_chars(std::begin(digits), std::end(digits), value);
    const auto length = static_cast<int>(r.ptr - digits);
    for (int column = length; column < width; column += 8) {
        std::memset(p + (column - length), ' ', 8);
    }
    p += std::max(width - length, 0);
    std::memcpy(p, digits, sizeof digits);
    return p + length;
}

// precision < 0: the shortest round-trip form. "%f" of DBL_MAX, the widest
// field, is 316 characters.
void put_chars(output& out, double value, std::chars_format format, int precision) noexcept {
    char* first = out.room(output::max_field);
    char* last = first + output::max_field;
    const std::to_chars_result r = precision < 0 ? std::to_chars(first, last, value)
                                                 : std::to_chars(first, last, value, format, precision);
    if (r.ec == std::errc{}) {
        out.commit(r.ptr);
    }
}

// string_view::substr checks its position and throws; these cannot fail,
// and keep the programs free of the runtime's exception support.
std::string_view head(std::string_view text, std::size_t count) noexcept {
    return {text.data(), std::min(count, text.size())};
}

std::string_view drop(std::string_view text, std::size_t count) noexcept {
    text.remove_prefix(std::min(count, text.size()));
    return text;
}

}  // namespace

int output::flush() noexcept {
    if (sink_ != nullptr) {
        sink_(context_, data_.data(), used_);
        used_ = 0;
        return 0;
    }
    const char* next = data_.data();
    std::size_t left = used_;
    // After a failure the rest is dropped: the run's outcome is already lost.
    while (left > 0 && error_ == 0) {
        const ssize_t written = ::write(fd_, next, left);
        if (written >= 0) {
            next += written;
            left -= static_cast<std::size_t>(written);
        } else if (errno != EINTR) {
            error_ = errno;
        }
    }
    used_ = 0;
    return error_;
}

void output::put_long(std::string_view text) noexcept {
    while (!text.empty()) {
        if (used_ == data_.size()) {
            flush();
        }
        const std::size_t chunk = std::min(text.size(), data_.size() - used_);
        std::memcpy(data_.data() + used_, text.data(), chunk);
        used_ += chunk;
        text.remove_prefix(chunk);
    }
}

void put_int(output& out, std::int64_t value, int width) noexcept {
    out.commit(write_int(out.room(output::max_field), value, std::clamp(width, 0, max_width)));
}

void put_row(output& out, const std::int64_t* values, std::size_t count, int width) noexcept {
    const int columns = std::clamp(width, 0, max_width);
    for (std::size_t i = 0; i < count; ++i) {
        char* end = write_int(out.room(output::max_field), values[i], columns);
        *end++ = ' ';
        out.commit(end);
    }
    put(out, "\n");
}

void put_hex(output& out, std::int64_t value, int width) noexcept {
    char digits[24];
    const std::to_chars_result r = std::to_chars(std::begin(digits), std::end(digits), value, 16);
    const auto length = static_cast<int>(r.ptr - digits);
    char* p = out.room(output::max_field);
    if (width > length) {
        std::memset(p, '0', static_cast<std::size_t>(width - length));
        p += width - length;
    }
    std::memcpy(p, digits, static_cast<std::size_t>(length));
    out.commit(p + length);
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

void arg::write(output& out, std::string_view style) const noexcept {
    switch (kind_) {
        case kind::integer: {
            int width = 0;
            std::from_chars(style.data(), style.data() + style.size(), width);
            if (!style.empty() && style.back() == 'x') {
                put_hex(out, int_, std::clamp(width, 0, max_width));
            } else {
                put_int(out, int_, width);
            }
            break;
        }
        case kind::real:
            if (style == "f") {
                put_fixed(out, real_);
            } else if (style.size() >= 3 && style.front() == '.' &&
                       (style.back() == 'g' || style.back() == 'f')) {
                int digits = 6;
                std::from_chars(style.data() + 1, style.data() + style.size() - 1, digits);
                if (style.back() == 'g') {
                    put_general(out, real_, digits);
                } else {
                    put_chars(out, real_, std::chars_format::fixed, std::clamp(digits, 0, 17));
                }
            } else {
                put_shortest(out, real_);
            }
            break;
        case kind::text:
            put(out, text_);
            break;
    }
}

void print(output& out, std::string_view format, std::initializer_list<arg> args) noexcept {
    std::size_t next = 0;  // the field "{}" stands for
    while (!format.empty()) {
        const std::size_t brace = format.find_first_of("{}");
        put(out, head(format, brace));
        if (brace == std::string_view::npos) {
            return;
        }
        format = drop(format, brace);
        if (format.size() >= 2 && format[1] == format[0]) {  // "{{" or "}}"
            put(out, head(format, 1));
            format = drop(format, 2);
            continue;
        }
        const std::size_t close = format.find('}');
        if (format[0] == '}' || close == std::string_view::npos) {
            put(out, head(format, 1));
            format = drop(format, 1);
            continue;
        }
        std::string_view field = head(drop(format, 1), close - 1);
        format = drop(format, close + 1);
        const std::size_t colon = field.find(':');
        const std::string_view style =
            colon == std::string_view::npos ? std::string_view{} : drop(field, colon + 1);
        field = head(field, colon);
        std::size_t index = next++;
        if (!field.empty()) {
            std::from_chars(field.data(), field.data() + field.size(), index);
        }
        if (index < args.size()) {
            args.begin()[index].write(out, style);
        }
    }
}

void print_list(output& out, const std::int64_t* values, std::size_t count, std::string_view separator,
                std::string_view entry) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        put(out, i > 0 ? separator : std::string_view{});
        print(out, entry, {values[i]});
    }
}

}  // namespace tapsmith::cli
