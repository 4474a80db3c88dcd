// SPDX-License-Identifier: MIT
// The golden-model filter. The 2-D sum is taken as a vertical pass (P + B
// bits) followed by a horizontal one (P + 2B bits): the same exact integer
// sum in another order, with the one rounding at the very end. Each pass
// runs in the narrowest unsigned type that holds its worst case, so that
// as many pixels as possible share a vector register. The row loops
// (blur_rows-inl.h) are built for each instruction set Highway knows on
// this architecture, and the widest one the processor runs is chosen once.
#include <tapsmith/detail/blur_targets.hpp>
#include <tapsmith/detail/simd.hpp>
#include <tapsmith/fixed.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

namespace tapsmith {

namespace {

struct buffer_free {
    void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using buffer = std::unique_ptr<T[], buffer_free>;

// calloc checks count * size for overflow itself; what it does with a
// count of 0 is up to the C library, so never asked.
template <typename T>
buffer<T> allocate(std::size_t count) noexcept {
    return buffer<T>(static_cast<T*>(std::calloc(count > 0 ? count : 1, sizeof(T))));
}

constexpr std::ptrdiff_t outside = -1;

std::ptrdiff_t map_index(std::ptrdiff_t q, std::ptrdiff_t len, border how) noexcept {
    return static_cast<std::ptrdiff_t>(border_index(q, len, how));
}

struct shape {
    std::size_t width;
    std::size_t height;
    std::size_t channels;
    std::size_t n;
    std::int32_t bits;
    border how;
    std::size_t out_first;  // the row `out` starts at: 0, or top for blur_rows_to
};

// How many threads filter an image: `requested`, or one per core for 0 and
// below (a core count the system cannot tell counts as 1), never more than
// the image has rows, so that no band is empty.
std::size_t thread_count(std::int32_t requested, std::size_t height) noexcept {
    std::size_t want = 1;
    if (requested > 0) {
        want = static_cast<std::size_t>(requested);
    } else {
        const unsigned cores = std::thread::hardware_concurrency();
        want = cores > 0 ? std::size_t{cores} : 1;
    }
    return want < height ? want : height;
}
}  // namespace
}  // namespace tapsmith

#if TAPSMITH_HAVE_HWY
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "blur_rows-inl.h"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
// and once more for the static target, the baseline
#include "blur_rows-inl.h"
#else
#include "blur_rows-inl.h"
#endif

namespace tapsmith {
namespace {

struct target {
    const char* name;
    status (*filter8)(const std::uint8_t*, std::uint8_t*, const shape&, const std::int64_t*, std::int32_t,
                      std::int32_t, std::size_t, std::size_t) noexcept;
    status (*filter16)(const std::uint16_t*, std::uint16_t*, const shape&, const std::int64_t*, std::int32_t,
                       std::int32_t, std::size_t, std::size_t) noexcept;

    status filter(const std::uint8_t* in, std::uint8_t* out, const shape& s, const std::int64_t* taps,
                  std::int32_t threads, std::int32_t pixel_bits, std::size_t top,
                  std::size_t bottom) const noexcept {
        return filter8(in, out, s, taps, threads, pixel_bits, top, bottom);
    }
    status filter(const std::uint16_t* in, std::uint16_t* out, const shape& s, const std::int64_t* taps,
                  std::int32_t threads, std::int32_t pixel_bits, std::size_t top,
                  std::size_t bottom) const noexcept {
        return filter16(in, out, s, taps, threads, pixel_bits, top, bottom);
    }
};

// What this processor runs, best first; the baseline last, always there.
struct target_list {
    target at[4];
    std::size_t count = 0;
};

target_list runnable_targets() noexcept {
    target_list list;
#if TAPSMITH_HAVE_HWY && (defined(__x86_64__) || defined(__i386__))
    [[maybe_unused]] const detail::x86_sets sets = detail::runnable_x86_sets();
#if HWY_TARGETS & HWY_AVX3
    if (sets.avx512) {
        list.at[list.count++] = target{"AVX-512", &N_AVX3::filter8, &N_AVX3::filter16};
    }
#endif
#if HWY_TARGETS & HWY_AVX2
    if (sets.avx2) {
        list.at[list.count++] = target{"AVX2", &N_AVX2::filter8, &N_AVX2::filter16};
    }
#endif
#if HWY_TARGETS & HWY_SSE4
    if (sets.sse4) {
        list.at[list.count++] = target{"SSE4", &N_SSE4::filter8, &N_SSE4::filter16};
    }
#endif
#endif
#if TAPSMITH_HAVE_HWY && defined(__aarch64__) && defined(__linux__)
    [[maybe_unused]] const detail::arm_sets arm = detail::runnable_arm_sets();
#if HWY_TARGETS & HWY_SVE2
    if (arm.sve2) {
        list.at[list.count++] = target{"SVE2", &N_SVE2::filter8, &N_SVE2::filter16};
    }
#endif
#if HWY_TARGETS & HWY_SVE
    if (arm.sve) {
        list.at[list.count++] = target{"SVE", &N_SVE::filter8, &N_SVE::filter16};
    }
#endif
#endif
#if TAPSMITH_HAVE_HWY
    list.at[list.count++] = target{"baseline", &HWY_STATIC_DISPATCH(filter8), &HWY_STATIC_DISPATCH(filter16)};
#else
    list.at[list.count++] = target{"baseline", &portable::filter8, &portable::filter16};
#endif
    return list;
}

const target_list& targets() noexcept {
    static const target_list list = runnable_targets();
    return list;
}

// Output rows top .. bottom - 1 (top = 0 and bottom = 0 for all of them).
template <typename Pixel>
status blur_any(const Pixel* in, Pixel* out, const image_size& dims, const blur_options& o,
                const target& rows, std::size_t top = 0, std::size_t bottom = 0,
                bool rows_only = false) noexcept {
    constexpr std::size_t side_max = 65535;
    const std::size_t width = dims.width;
    const std::size_t height = dims.height;
    const std::size_t channels = dims.channels;
    if (in == nullptr || out == nullptr || width < 1 || width > side_max || height < 1 || height > side_max ||
        channels < 1 || channels > 4) {
        return status::bad_size;
    }
    if (bottom == 0) {
        bottom = height;
    }
    if (top >= bottom || bottom > height) {
        return status::bad_size;
    }
    if (o.n < 1 || o.n > FIXED_MAX || o.n % 2 == 0) {
        return status::bad_count;
    }
    const std::int64_t* const taps = o.taps;
    const auto count = static_cast<std::size_t>(o.n);
    if (taps == nullptr) {
        return status::bad_taps;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (taps[i] < 0) {
            return status::bad_taps;
        }
    }
    const std::int32_t bits = o.bits;
    const std::int32_t pixel_bits = o.pixel_bits;
    if (pixel_bits < 1 || pixel_bits > 16 || bits < 1 || bits > FIXED_BITS_MAX ||
        pixel_bits + 2 * bits > 64) {
        return status::bad_bits;
    }
    // Each tap is checked against the total first, so the sum cannot
    // overflow: at most FIXED_MAX * 2^30.
    const std::int64_t total = std::int64_t{1} << bits;
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (taps[i] > total) {
            return status::bad_taps;
        }
        sum += taps[i];
    }
    if (sum != total) {
        return status::bad_taps;
    }

    // A 32-bit size_t cannot address every image the sides allow.
    if (height > SIZE_MAX / width || channels > SIZE_MAX / (width * height)) {
        return status::out_of_memory;
    }
    // Pixels as wide as their type cannot be too large. Only the rows the
    // output rows read are looked at: within m of them, or any row when
    // the image is not taller than the filter (its borders reflect or
    // repeat rows from anywhere in it).
    if (pixel_bits < std::numeric_limits<Pixel>::digits) {
        const std::size_t m = count / 2;
        const bool short_image = height <= count;
        const std::size_t first = short_image || top < m ? 0 : top - m;
        const std::size_t last = short_image || height - bottom < m ? height : bottom + m;
        const std::size_t line = width * channels;
        const auto max_pixel = static_cast<std::uint32_t>((std::uint32_t{1} << pixel_bits) - 1);
        Pixel largest = 0;
        for (std::size_t y = first; y < last; ++y) {
            const Pixel* const row = in + y * line;
            for (std::size_t k = 0; k < line; ++k) {
                largest = row[k] > largest ? row[k] : largest;
            }
        }
        if (static_cast<std::uint32_t>(largest) > max_pixel) {
            return status::bad_pixel;
        }
    }

    const shape s{width, height, channels, count, bits, o.how, rows_only ? top : 0};
    return rows.filter(in, out, s, taps, o.threads, pixel_bits, top, bottom);
}

}  // namespace

std::int64_t border_index(std::int64_t q, std::int64_t length, border how) noexcept {
    if (q >= 0 && q < length) {
        return q;
    }
    switch (how) {
        case border::zero:
            return -1;
        case border::replicate:
            return q < 0 ? 0 : length - 1;
        case border::reflect101:
            break;
    }
    if (length <= 1) {
        return 0;
    }
    // reflect101 repeats with period 2 length - 2, so one modulo stands for
    // any number of reflections.
    const std::int64_t period = 2 * length - 2;
    std::int64_t r = q % period;
    if (r < 0) {
        r += period;
    }
    return r < length ? r : period - r;
}

status blur(const std::uint8_t* in, std::uint8_t* out, const image_size& size,
            const blur_options& options) noexcept {
    return blur_any(in, out, size, options, targets().at[0]);
}

status blur(const std::uint16_t* in, std::uint16_t* out, const image_size& size,
            const blur_options& options) noexcept {
    return blur_any(in, out, size, options, targets().at[0]);
}

status blur_rows(const std::uint8_t* in, std::uint8_t* out, const image_size& size,
                 const blur_options& options, std::size_t top, std::size_t bottom) noexcept {
    return bottom == 0 ? status::bad_size : blur_any(in, out, size, options, targets().at[0], top, bottom);
}

status blur_rows(const std::uint16_t* in, std::uint16_t* out, const image_size& size,
                 const blur_options& options, std::size_t top, std::size_t bottom) noexcept {
    return bottom == 0 ? status::bad_size : blur_any(in, out, size, options, targets().at[0], top, bottom);
}

status blur_rows_to(const std::uint8_t* in, std::uint8_t* rows, const image_size& size,
                    const blur_options& options, std::size_t top, std::size_t bottom) noexcept {
    return bottom == 0 ? status::bad_size
                       : blur_any(in, rows, size, options, targets().at[0], top, bottom, true);
}

status blur_rows_to(const std::uint16_t* in, std::uint16_t* rows, const image_size& size,
                    const blur_options& options, std::size_t top, std::size_t bottom) noexcept {
    return bottom == 0 ? status::bad_size
                       : blur_any(in, rows, size, options, targets().at[0], top, bottom, true);
}

namespace detail {

std::size_t blur_target_count() noexcept {
    return targets().count;
}

const char* blur_target_name(std::size_t i) noexcept {
    return i < targets().count ? targets().at[i].name : nullptr;
}

status blur_on_target(std::size_t i, const std::uint8_t* in, std::uint8_t* out, const image_size& size,
                      const blur_options& options) noexcept {
    return i < targets().count ? blur_any(in, out, size, options, targets().at[i]) : status::bad_count;
}

status blur_on_target(std::size_t i, const std::uint16_t* in, std::uint16_t* out, const image_size& size,
                      const blur_options& options) noexcept {
    return i < targets().count ? blur_any(in, out, size, options, targets().at[i]) : status::bad_count;
}

}  // namespace detail

const char* describe(status s) noexcept {
    switch (s) {
        case status::ok:
            return "ok";
        case status::bad_count:
            return "the tap count must be an odd number from 1 to 127";
        case status::bad_sigma:
            return "sigma must be a finite number above 0 that gives a filter";
        case status::bad_bits:
            return "pixel bits must be 1 to 16, tap bits 1 to 30, and pixel bits + 2 tap bits at most 64";
        case status::bad_taps:
            return "taps must be non-negative and sum to 2^bits";
        case status::bad_size:
            return "width and height must be 1 to 65535 and channels 1 to 4";
        case status::bad_pixel:
            return "a pixel is above 2^pixel_bits - 1";
        case status::none_fits:
            return "no size in the range searched meets the bound";
        case status::out_of_memory:
            return "out of memory";
    }
    return "unknown status";
}

}  // namespace tapsmith
