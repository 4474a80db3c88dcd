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

namespace {  // NOLINT(cert-dcl59-cpp): one per instruction set, each in its own namespace

// A row's squared errors into its eight running sums (square_lanes),
// pixel x in sum x mod 8, written out, not left to the vectors' width, so
// that every processor and build adds the same numbers in the same order.
template <std::size_t Step, typename Sample>
inline void squares_of(const Sample* got, std::size_t step, const double* ref, std::size_t w,
                       square_lanes& lanes, double& worst) noexcept {
    const std::size_t s = Step > 0 ? Step : step;
    double acc[8];
    double big[8] = {};
    for (std::size_t j = 0; j < 8; ++j) {
        acc[j] = lanes.at[j];
    }
    for (std::size_t x = 0; x < w; x += 8) {
        const std::size_t k = w - x < 8 ? w - x : 8;
        for (std::size_t j = 0; j < k; ++j) {
            const double e = static_cast<double>(got[(x + j) * s]) - ref[x + j];
            acc[j] += e * e;
            const double size = e < 0.0 ? -e : e;
            big[j] = big[j] < size ? size : big[j];
        }
    }
    for (std::size_t j = 0; j < 8; ++j) {
        lanes.at[j] = acc[j];
        worst = worst < big[j] ? big[j] : worst;
    }
}

}  // namespace

// to[x] = from_0[x] g_0 + from_1[x] g_1 + ..., the terms of each pixel
// added left to right as written. Four vectors of pixels at a time take
// every term while their sums stay in registers, so that four chains of
// additions overlap; a multiply and an add, never fused.
void weighted_sum(double* to, const double* const* from, const double* g, std::size_t terms,
                  std::size_t w) noexcept {
    std::size_t x = 0;
#if TAPSMITH_HAVE_HWY
    namespace hn = hwy::HWY_NAMESPACE;
    const hn::ScalableTag<double> d;
    const std::size_t lanes = hn::Lanes(d);
    for (; x + 4 * lanes <= w; x += 4 * lanes) {
        const auto g0 = hn::Set(d, g[0]);
        const double* a = from[0] + x;
        auto s0 = hn::Mul(g0, hn::LoadU(d, a));
        auto s1 = hn::Mul(g0, hn::LoadU(d, a + lanes));
        auto s2 = hn::Mul(g0, hn::LoadU(d, a + 2 * lanes));
        auto s3 = hn::Mul(g0, hn::LoadU(d, a + 3 * lanes));
        for (std::size_t t = 1; t < terms; ++t) {
            const auto gt = hn::Set(d, g[t]);
            const double* p = from[t] + x;
            s0 = hn::Add(s0, hn::Mul(gt, hn::LoadU(d, p)));
            s1 = hn::Add(s1, hn::Mul(gt, hn::LoadU(d, p + lanes)));
            s2 = hn::Add(s2, hn::Mul(gt, hn::LoadU(d, p + 2 * lanes)));
            s3 = hn::Add(s3, hn::Mul(gt, hn::LoadU(d, p + 3 * lanes)));
        }
        hn::StoreU(s0, d, to + x);
        hn::StoreU(s1, d, to + x + lanes);
        hn::StoreU(s2, d, to + x + 2 * lanes);
        hn::StoreU(s3, d, to + x + 3 * lanes);
    }
    for (; x + lanes <= w; x += lanes) {
        auto s0 = hn::Mul(hn::Set(d, g[0]), hn::LoadU(d, from[0] + x));
        for (std::size_t t = 1; t < terms; ++t) {
            s0 = hn::Add(s0, hn::Mul(hn::Set(d, g[t]), hn::LoadU(d, from[t] + x)));
        }
        hn::StoreU(s0, d, to + x);
    }
#endif
    for (; x < w; ++x) {
        double sum = g[0] * from[0][x];
        for (std::size_t t = 1; t < terms; ++t) {
            sum += g[t] * from[t][x];
        }
        to[x] = sum;
    }
}

void add_squares16(const std::uint16_t* got, std::size_t step, const double* ref, std::size_t w,
                   square_lanes& lanes, double& worst) noexcept {
    if (step == 1) {
        squares_of<1>(got, step, ref, w, lanes, worst);
    } else {
        squares_of<0>(got, step, ref, w, lanes, worst);
    }
}

void add_squares8(const std::uint8_t* got, std::size_t step, const double* ref, std::size_t w,
                  square_lanes& lanes, double& worst) noexcept {
    if (step == 1) {
        squares_of<1>(got, step, ref, w, lanes, worst);
    } else {
        squares_of<0>(got, step, ref, w, lanes, worst);
    }
}
}  // namespace tapsmith::TAPSMITH_ROWS

#undef TAPSMITH_ROWS
#if TAPSMITH_HAVE_HWY
HWY_AFTER_NAMESPACE();
#endif

#endif  // the per-target guard
