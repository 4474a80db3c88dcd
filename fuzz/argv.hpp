// SPDX-License-Identifier: MIT
// What the argument fuzzers share: an argument vector from the fuzzer's
// bytes (the program's name, then the input split at NUL into words), and
// standard output sent to /dev/null, since the programs write there.
#pragma once

#include <fcntl.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline void send_stdout_to_null() {
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd < 0 || ::dup2(null_fd, STDOUT_FILENO) < 0) {
        std::abort();
    }
    ::close(null_fd);
}

struct fuzz_argv {
    std::vector<std::string> words;
    std::vector<char*> pointers;  // words' data, then nullptr, as main receives them

    fuzz_argv(const char* program, const std::uint8_t* data, std::size_t size) : words{program} {
        std::string word;
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                words.push_back(word);
                word.clear();
            } else {
                word.push_back(static_cast<char>(data[i]));
            }
        }
        if (size > 0) {
            words.push_back(word);
        }
        pointers.reserve(words.size() + 1);
        for (std::string& w : words) {
            pointers.push_back(w.data());
        }
        pointers.push_back(nullptr);
    }
    fuzz_argv(const fuzz_argv&) = delete;
    fuzz_argv& operator=(const fuzz_argv&) = delete;

    [[nodiscard]] int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return pointers.data(); }
};
