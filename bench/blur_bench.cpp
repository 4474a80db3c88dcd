// SPDX-License-Identifier: MIT
// Times blur on a noise image (4096 x 4096 8-bit grey by default; --image=rgb8
// for a 3840 x 2160 8-bit RGB frame, --image=grey16 for 4096 x 4096 16-bit
// grey, whose taps then have BITS bits as well): the best of
// several runs, in milliseconds of CPU time (the process has one thread),
// on one line. CPU time, not wall time, so that a busy machine (a CI runner)
// hardly moves it; bench/blur_vs_opencv.py measures OpenCV's GaussianBlur
// the same way. Given THREADS, blur shares the rows among that many and the
// line is wall-clock milliseconds instead: CPU time would add the threads
// up. `tapsmith_blur_bench 9 1.5 8 7 1` against `... 8 7 2` is the scaling.
//
// --target=NAME (AVX-512, AVX2, SSE4, baseline) runs the loops built for that
// instruction set rather than the widest the processor has, in the static
// builds (a shared libtapsmith keeps the choice to itself).
//
// Usage: tapsmith_blur_bench [--image=grey8|rgb8|grey16] [--target=NAME] N SIGMA [BITS [RUNS [THREADS]]]
#include <tapsmith/fixed.hpp>
#if TAPSMITH_BENCH_TARGETS
#include <tapsmith/detail/blur_targets.hpp>
#endif

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

struct layout {
    std::string_view name;
    std::size_t width, height, channels;
    std::int32_t pixel_bits;
};

constexpr layout layouts[] = {
    {"grey8", 4096, 4096, 1, 8}, {"rgb8", 3840, 2160, 3, 8}, {"grey16", 4096, 4096, 1, 16}};

// The instruction set asked for, or none: blur's own choice.
constexpr std::size_t own_choice = static_cast<std::size_t>(-1);

template <typename Pixel>
tapsmith::status filter(std::size_t target, const Pixel* in, Pixel* out, const tapsmith::image_size& size,
                        const tapsmith::blur_options& options) {
#if TAPSMITH_BENCH_TARGETS
    if (target != own_choice) {
        return tapsmith::detail::blur_on_target(target, in, out, size, options);
    }
#endif
    (void)target;
    return tapsmith::blur(in, out, size, options);
}

template <typename Pixel>
int run(const layout& image, const tapsmith::fixed_taps& taps, std::int32_t n, std::int32_t bits,
        std::int32_t runs, std::int32_t threads, bool wall, std::size_t target) {
    std::vector<Pixel> in(image.width * image.height * image.channels);
    std::vector<Pixel> out(in.size());
    std::uint64_t state = 1;
    for (auto& p : in) {
        // A linear congruential step is noise enough for a timing.
        state = state * 6364136223846793005U + 1442695040888963407U;
        p = static_cast<Pixel>(state >> (64U - static_cast<unsigned>(image.pixel_bits)));
    }

    double best = 0.0;
    for (std::int32_t r = 0; r < runs; ++r) {
        tapsmith::blur_options options{n, taps.data(), bits, image.pixel_bits, tapsmith::border::reflect101};
        options.threads = threads;
        const std::clock_t start = std::clock();
        const auto began = std::chrono::steady_clock::now();
        const tapsmith::status st =
            filter(target, in.data(), out.data(), {image.width, image.height, image.channels}, options);
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

}  // namespace

int main(int argc, char** argv) {
    const layout* image = &layouts[0];
    if (argc > 1 && std::string_view(argv[1]).substr(0, 8) == "--image=") {
        const std::string_view want = std::string_view(argv[1]).substr(8);
        image = nullptr;
        for (const layout& l : layouts) {
            image = l.name == want ? &l : image;
        }
        if (image == nullptr) {
            (void)std::fprintf(stderr, "tapsmith_blur_bench: no image layout '%s'\n", argv[1] + 8);
            return 2;
        }
        --argc;
        ++argv;
    }
    std::size_t target = own_choice;
    if (argc > 1 && std::string_view(argv[1]).substr(0, 9) == "--target=") {
        const std::string_view want = std::string_view(argv[1]).substr(9);
#if TAPSMITH_BENCH_TARGETS
        for (std::size_t t = 0; t < tapsmith::detail::blur_target_count(); ++t) {
            target = want == tapsmith::detail::blur_target_name(t) ? t : target;
        }
#endif
        if (target == own_choice) {
            (void)std::fprintf(stderr, "tapsmith_blur_bench: no loops for '%.*s' here\n",
                               static_cast<int>(want.size()), want.data());
            return 2;
        }
        --argc;
        ++argv;
    }
    std::int32_t n = 0;
    double sigma = 0.0;
    std::int32_t bits = 8;
    std::int32_t runs = 7;
    std::int32_t threads = 1;
    const bool wall = argc > 5;
    if (argc < 3 || argc > 6 || !parse(argv[1], n) || !parse(argv[2], sigma) ||
        (argc > 3 && !parse(argv[3], bits)) || (argc > 4 && (!parse(argv[4], runs) || runs < 1)) ||
        (wall && (!parse(argv[5], threads) || threads < 1))) {
        (void)std::fprintf(
            stderr,
            "usage: tapsmith_blur_bench [--image=grey8|rgb8|grey16] [--target=NAME] N SIGMA [BITS [RUNS "
            "[THREADS]]]\n");
        return 2;
    }
    tapsmith::fixed_taps taps{};
    if (tapsmith::get_fixed_taps(n, sigma, bits, tapsmith::sampling::point, taps) != tapsmith::status::ok) {
        (void)std::fprintf(stderr, "tapsmith_blur_bench: no taps for n %s\n", argv[1]);
        return 1;
    }

    if (image->pixel_bits > 8) {
        return run<std::uint16_t>(*image, taps, n, bits, runs, threads, wall, target);
    }
    return run<std::uint8_t>(*image, taps, n, bits, runs, threads, wall, target);
}
