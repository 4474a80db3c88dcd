// SPDX-License-Identifier: MIT
// The double-precision reference's row loop, compiled once for each
// instruction set the processor may have (included by weighted_sum.cpp,
// through Highway's foreach_target.h where Highway is found). Each pixel's
// sum is the same chain of multiplies and adds, in the same order, on
// every instruction set (and never fused: the build keeps -ffp-contract=off),
// so each gives the same bits; the vectors run across pixels.

// Highway's per-target include guard: toggled on every pass.
#if defined(TAPSMITH_WEIGHTED_SUM_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TAPSMITH_WEIGHTED_SUM_INL_H_
#undef TAPSMITH_WEIGHTED_SUM_INL_H_
#else
#define TAPSMITH_WEIGHTED_SUM_INL_H_
#endif

#if TAPSMITH_HAVE_HWY
#include <hwy/highway.h>
HWY_BEFORE_NAMESPACE();
#define TAPSMITH_ROWS HWY_NAMESPACE
#else
#define TAPSMITH_ROWS portable
#endif

namespace tapsmith::TAPSMITH_ROWS {

// to[x] = from_0[x] g_0 + from_1[x] g_1 + ..., the terms added left to right
// as written, four to a pass over the row so that each pass loads and
// stores the sums once.
void weighted_sum(double* to, const double* const* from, const double* g, std::size_t terms,
                  std::size_t w) noexcept {
    const double* a = from[0];
    for (std::size_t x = 0; x < w; ++x) {
        to[x] = g[0] * a[x];
    }
    std::size_t t = 1;
    for (; t + 4 <= terms; t += 4) {
        const double* p0 = from[t];
        const double* p1 = from[t + 1];
        const double* p2 = from[t + 2];
        const double* p3 = from[t + 3];
        const double g0 = g[t];
        const double g1 = g[t + 1];
        const double g2 = g[t + 2];
        const double g3 = g[t + 3];
        for (std::size_t x = 0; x < w; ++x) {
            to[x] = (((to[x] + g0 * p0[x]) + g1 * p1[x]) + g2 * p2[x]) + g3 * p3[x];
        }
    }
    for (; t < terms; ++t) {
        const double* p = from[t];
        const double gt = g[t];
        for (std::size_t x = 0; x < w; ++x) {
            to[x] += gt * p[x];
        }
    }
}

}  // namespace tapsmith::TAPSMITH_ROWS

#undef TAPSMITH_ROWS
#if TAPSMITH_HAVE_HWY
HWY_AFTER_NAMESPACE();
#endif

#endif  // the per-target guard
