// SPDX-License-Identifier: MIT
// The programs' output: text accumulates in one buffer and reaches its file
// descriptor in as few write calls as possible (one for any report), and
// the first failed write is remembered, so that a lost output is never
// reported as success. It can also collect into a string, for callers that
// want the text as a value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tapsmith::cli {

class output {
  public:
    explicit output(int fd = 1) noexcept : fd_(fd) {}
    // Text goes to sink(context, data, size) instead of a file descriptor.
    using sink_function = void (*)(void* context, const char* data, std::size_t size);
    output(sink_function sink, void* context) noexcept : sink_(sink), context_(context) {}
    // Collects into a string (appending is left to an inline function, so
    // that a program that never collects links no string growth, and with
    // it none of the runtime's exception support).
    explicit output(std::string& text) noexcept : output(append_to_string, &text) {}
    output(const output&) = delete;
    output& operator=(const output&) = delete;
    // Whatever is still buffered is written; call flush() to learn whether it went out.
    ~output() { flush(); }

    // Inline, so that the copy of a literal compiles to a few moves. An
    // empty view may have no data at all, which memcpy must not be given.
    void put(std::string_view text) noexcept {
        if (text.empty()) {
            return;
        }
        if (text.size() <= data_.size() - used_) {
            std::memcpy(data_.data() + used_, text.data(), text.size());
            used_ += text.size();
        } else {
            put_long(text);
        }
    }

    // At least `size` (at most `max_field`) bytes of room at the returned
    // pointer; commit(end) keeps what was written up to end.
    static constexpr std::size_t max_field = 1024;
    char* room(std::size_t size) noexcept {
        if (data_.size() - used_ < (size < max_field ? size : max_field)) {
            flush();
        }
        return data_.data() + used_;
    }
    void commit(const char* end) noexcept { used_ = static_cast<std::size_t>(end - data_.data()); }

    // Writes what is buffered; returns the errno of the first failed write, or 0.
    int flush() noexcept;

  private:
    void put_long(std::string_view text) noexcept;
    static void append_to_string(void* text, const char* data, std::size_t size) {
        static_cast<std::string*>(text)->append(data, size);
    }

    int fd_ = -1;
    sink_function sink_ = nullptr;
    void* context_ = nullptr;
    int error_ = 0;
    std::size_t used_ = 0;
    std::array<char, 16384> data_;  // left uninitialised: only [0, used_) is ever read
};

inline void put(output& out, std::string_view text) noexcept {
    out.put(text);
}

// The value right-aligned in `width` columns, as printf's "%*" PRId64 prints it.
void put_int(output& out, std::int64_t value, int width = 0) noexcept;

// One table row: every value as put_int prints it followed by one space,
// then a line break.
void put_row(output& out, const std::int64_t* values, std::size_t count, int width) noexcept;

// Lower-case hexadecimal, zero-padded to `width` digits.
void put_hex(output& out, std::int64_t value, int width) noexcept;

// printf's "%f" (std::to_chars, which the C++ standard defines as that very conversion).
void put_fixed(output& out, double value) noexcept;

// The shortest text that reads back as the same double.
void put_shortest(output& out, double value) noexcept;

// `digits` significant digits, as printf's "%.*g" prints them.
void put_general(output& out, double value, int digits) noexcept;

// One field of print(): an integer, a double or a text, and how it is shown.
class arg {
  public:
    arg(std::int64_t v) noexcept : kind_(kind::integer), int_(v) {}    // NOLINT(google-explicit-constructor)
    arg(std::int32_t v) noexcept : arg(std::int64_t{v}) {}             // NOLINT(google-explicit-constructor)
    arg(double v) noexcept : kind_(kind::real), real_(v) {}            // NOLINT(google-explicit-constructor)
    arg(std::string_view v) noexcept : kind_(kind::text), text_(v) {}  // NOLINT(google-explicit-constructor)
    arg(const char* v) noexcept : arg(std::string_view(v)) {}          // NOLINT(google-explicit-constructor)

    // Writes the field as `style` (what follows the ':' in "{0:style}") says:
    // integers take a width ("{0:6}") or print in zero-padded hexadecimal
    // ("{0:04x}"); doubles print shortest by default,
    // "f" as printf's %f, ".Nf" with N decimals, ".Ng" with N significant
    // digits.
    void write(output& out, std::string_view style) const noexcept;

  private:
    enum class kind { integer, real, text };
    kind kind_;
    std::int64_t int_ = 0;
    double real_ = 0.0;
    std::string_view text_;
};

// A format string with positional fields "{0}", "{1:.4g}", ... ("{{" and
// "}}" for braces), so that a writer reads as the text it writes. A field
// naming no argument prints nothing.
void print(output& out, std::string_view format, std::initializer_list<arg> args) noexcept;

// The values with `separator` between them, each as "{0}" of `entry`
// (e.g. "INT64_C({0})").
void print_list(output& out, const std::int64_t* values, std::size_t count, std::string_view separator,
                std::string_view entry = "{0}") noexcept;

}  // namespace tapsmith::cli
