// SPDX-License-Identifier: MIT
#include "weighted_sum.hpp"

#include <tapsmith/detail/simd.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if TAPSMITH_HAVE_HWY
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "weighted_sum-inl.h"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
// and once more for the static target, the baseline
#include "weighted_sum-inl.h"
#else
#include "weighted_sum-inl.h"
#endif

namespace tapsmith {

namespace {

// One instruction set's build of the loops.
struct loop {
    void (*sum)(double*, const double* const*, const double*, std::size_t, std::size_t) noexcept;
    void (*squares16)(const std::uint16_t*, std::size_t, const double*, std::size_t, square_lanes&,
                      double&) noexcept;
    void (*squares8)(const std::uint8_t*, std::size_t, const double*, std::size_t, square_lanes&,
                     double&) noexcept;
    void (*widen16)(const std::uint16_t*, std::size_t, double*, std::size_t) noexcept;
    void (*widen8)(const std::uint8_t*, std::size_t, double*, std::size_t) noexcept;
};

// One namespace's loops, in the order above.
#define TAPSMITH_LOOPS_OF(ns)                                                               \
    loop {                                                                                  \
        &ns::weighted_sum, &ns::add_squares16, &ns::add_squares8, &ns::widen16, &ns::widen8 \
    }

// What this processor runs, best first; the baseline last, always there.
struct loop_list {
    loop at[4];
    std::size_t count = 0;
};

loop_list runnable_loops() noexcept {
    loop_list list;
#if TAPSMITH_HAVE_HWY && (defined(__x86_64__) || defined(__i386__))
    [[maybe_unused]] const detail::x86_sets sets = detail::runnable_x86_sets();
#if HWY_TARGETS & HWY_AVX3
    if (sets.avx512) {
        list.at[list.count++] = TAPSMITH_LOOPS_OF(N_AVX3);
    }
#endif
#if HWY_TARGETS & HWY_AVX2
    if (sets.avx2) {
        list.at[list.count++] = TAPSMITH_LOOPS_OF(N_AVX2);
    }
#endif
#if HWY_TARGETS & HWY_SSE4
    if (sets.sse4) {
        list.at[list.count++] = TAPSMITH_LOOPS_OF(N_SSE4);
    }
#endif
#endif
#if TAPSMITH_HAVE_HWY && defined(__aarch64__) && defined(__linux__)
    [[maybe_unused]] const detail::arm_sets arm = detail::runnable_arm_sets();
#if HWY_TARGETS & HWY_SVE2
    if (arm.sve2) {
        list.at[list.count++] = TAPSMITH_LOOPS_OF(N_SVE2);
    }
#endif
#if HWY_TARGETS & HWY_SVE
    if (arm.sve) {
        list.at[list.count++] = TAPSMITH_LOOPS_OF(N_SVE);
    }
#endif
#endif
#if TAPSMITH_HAVE_HWY
    list.at[list.count++] = TAPSMITH_LOOPS_OF(HWY_NAMESPACE);
#else
    list.at[list.count++] = TAPSMITH_LOOPS_OF(portable);
#endif
    return list;
}
#undef TAPSMITH_LOOPS_OF

const loop_list& loops() noexcept {
    static const loop_list list = runnable_loops();
    return list;
}

}  // namespace

void weighted_sum(double* to, const double* const* from, const double* g, std::size_t terms,
                  std::size_t w) noexcept {
    loops().at[0].sum(to, from, g, terms, w);
}

void add_squares(const std::uint16_t* got, std::size_t step, const double* ref, std::size_t w,
                 square_lanes& lanes, double& worst) noexcept {
    loops().at[0].squares16(got, step, ref, w, lanes, worst);
}

void add_squares(const std::uint8_t* got, std::size_t step, const double* ref, std::size_t w,
                 square_lanes& lanes, double& worst) noexcept {
    loops().at[0].squares8(got, step, ref, w, lanes, worst);
}

void widen_samples(const std::uint16_t* from, std::size_t step, double* to, std::size_t count) noexcept {
    loops().at[0].widen16(from, step, to, count);
}

void widen_samples(const std::uint8_t* from, std::size_t step, double* to, std::size_t count) noexcept {
    loops().at[0].widen8(from, step, to, count);
}

std::size_t weighted_sum_loops() noexcept {
    return loops().count;
}

void weighted_sum_on(std::size_t loop_index, double* to, const double* const* from, const double* g,
                     std::size_t terms, std::size_t w) noexcept {
    loops().at[loop_index < loops().count ? loop_index : loops().count - 1].sum(to, from, g, terms, w);
}

void add_squares_on(std::size_t loop_index, const std::uint16_t* got, std::size_t step, const double* ref,
                    std::size_t w, square_lanes& lanes, double& worst) noexcept {
    loops().at[loop_index < loops().count ? loop_index : loops().count - 1].squares16(got, step, ref, w,
                                                                                      lanes, worst);
}

void add_squares_on(std::size_t loop_index, const std::uint8_t* got, std::size_t step, const double* ref,
                    std::size_t w, square_lanes& lanes, double& worst) noexcept {
    loops().at[loop_index < loops().count ? loop_index : loops().count - 1].squares8(got, step, ref, w, lanes,
                                                                                     worst);
}

void widen_samples_on(std::size_t loop_index, const std::uint16_t* from, std::size_t step, double* to,
                      std::size_t count) noexcept {
    loops().at[loop_index < loops().count ? loop_index : loops().count - 1].widen16(from, step, to, count);
}

void widen_samples_on(std::size_t loop_index, const std::uint8_t* from, std::size_t step, double* to,
                      std::size_t count) noexcept {
    loops().at[loop_index < loops().count ? loop_index : loops().count - 1].widen8(from, step, to, count);
}

}  // namespace tapsmith
