// SPDX-License-Identifier: MIT
// Times blur on a 4096 x 4096 8-bit single-channel noise image: the best of
// several runs, in milliseconds of CPU time (the process has one thread),
// on one line. CPU time, not wall time, so that a busy machine (a CI runner)
// hardly moves it; bench/blur_vs_opencv.py measures OpenCV's GaussianBlur
// the same way. Given THREADS, blur shares the rows among that many and the
// line is wall-clock milliseconds instead: CPU time would add the threads
// up. `tapsmith_blur_bench 9 1.5 8 7 1` against `... 8 7 2` is the scaling.
//
// Usage: tapsmith_blur_bench N SIGMA [BITS [RUNS [THREADS]]]
#include <tapsmith/fixed.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

template <typename T>
bool parse(const char* text, T& value) {
    const std::string_view s(text);
    const auto res = std::from_chars(s.data(), s.data() + s.size(), value);
    return res.ec == std::errc{} && res.ptr == s.data() + s.size();
}

}  // namespace

int main(int argc, char** argv) {
    std::int32_t n = 0;
    double sigma = 0.0;
    std::int32_t bits = 8;
    std::int32_t runs = 7;
    std::int32_t threads = 1;
    const bool wall = argc > 5;
    if (argc < 3 || argc > 6 || !parse(argv[1], n) || !parse(argv[2], sigma) ||
        (argc > 3 && !parse(argv[3], bits)) || (argc > 4 && (!parse(argv[4], runs) || runs < 1)) ||
        (wall && (!parse(argv[5], threads) || threads < 1))) {
        (void)std::fprintf(stderr, "usage: tapsmith_blur_bench N SIGMA [BITS [RUNS [THREADS]]]\n");
        return 2;
    }
    tapsmith::fixed_taps taps{};
    if (tapsmith::get_fixed_taps(n, sigma, bits, tapsmith::sampling::point, taps) != tapsmith::status::ok) {
        (void)std::fprintf(stderr, "tapsmith_blur_bench: no taps for n %s\n", argv[1]);
        return 1;
    }

    constexpr std::size_t side = 4096;
    std::vector<std::uint8_t> in(side * side);
    std::vector<std::uint8_t> out(in.size());
    std::uint64_t state = 1;
    for (auto& p : in) {
        // A linear congruential step is noise enough for a timing.
        state = state * 6364136223846793005U + 1442695040888963407U;
        p = static_cast<std::uint8_t>(state >> 56U);
    }

    double best = 0.0;
    for (std::int32_t r = 0; r < runs; ++r) {
        tapsmith::blur_options options{n, taps.data(), bits, 8, tapsmith::border::reflect101};
        options.threads = threads;
        const std::clock_t start = std::clock();
        const auto began = std::chrono::steady_clock::now();
        const tapsmith::status st = tapsmith::blur(in.data(), out.data(), {side, side, 1}, options);
        const double took =
            wall ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count()
                 : 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        if (st != tapsmith::status::ok) {
            (void)std::fprintf(stderr, "tapsmith_blur_bench: %s\n", tapsmith::describe(st));
            return 1;
        }
        best = r == 0 ? took : std::min(best, took);
    }
    char text[32];
    const auto res = std::to_chars(text, text + sizeof text, best, std::chars_format::fixed, 3);
    std::printf("%.*s\n", static_cast<int>(res.ptr - text), text);
    return 0;
}
