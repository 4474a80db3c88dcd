// SPDX-License-Identifier: MIT
// The double-precision reference's row loops (its weighted sums and a
// row's squared errors), compiled once for each instruction set the
// processor may have (included by weighted_sum.cpp, through Highway's
// foreach_target.h where Highway is found). Each pixel's sum is the same
// chain of multiplies and adds, in the same order, on every instruction
// set (and never fused: the build keeps -ffp-contract=off), so each gives
// the same bits; the vectors run across pixels.

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
template <typename Sample>
inline void squares_of(const Sample* got, const double* ref, std::size_t w, square_lanes& lanes,
                       double& worst) noexcept {
    std::size_t x = 0;
#if TAPSMITH_HAVE_HWY && HWY_TARGET != HWY_SCALAR && !HWY_HAVE_SCALABLE
    // The eight sums as 8 / N vectors of N lanes: sum j in lane j mod N of
    // vector j / N.
    namespace hn = hwy::HWY_NAMESPACE;
    const hn::CappedTag<double, 8> d;
    const hn::Rebind<std::int32_t, decltype(d)> di;
    const hn::Rebind<Sample, decltype(d)> ds;
    constexpr std::size_t lanes_n = hn::MaxLanes(d);
    constexpr std::size_t groups = 8 / lanes_n;
    hn::Vec<decltype(d)> acc[groups];
    hn::Vec<decltype(d)> big[groups];
    for (std::size_t g = 0; g < groups; ++g) {
        acc[g] = hn::LoadU(d, lanes.at + g * lanes_n);
        big[g] = hn::Zero(d);
    }
    for (; x + 8 <= w; x += 8) {
        for (std::size_t g = 0; g < groups; ++g) {
            const std::size_t at = x + g * lanes_n;
            const auto sample = hn::PromoteTo(d, hn::PromoteTo(di, hn::LoadU(ds, got + at)));
            const auto e = hn::Sub(sample, hn::LoadU(d, ref + at));
            acc[g] = hn::Add(acc[g], hn::Mul(e, e));
            big[g] = hn::Max(big[g], hn::Abs(e));
        }
    }
    for (std::size_t g = 0; g < groups; ++g) {
        hn::StoreU(acc[g], d, lanes.at + g * lanes_n);
        worst = std::max(worst, hn::GetLane(hn::MaxOfLanes(d, big[g])));
    }
#endif
    // What is left of the row (all of it without vectors), sum x mod 8 each.
    for (; x < w; ++x) {
        const double e = static_cast<double>(got[x]) - ref[x];
        lanes.at[x % 8] += e * e;
        worst = std::max(worst, e < 0.0 ? -e : e);
    }
}

// Samples `step` apart (one channel of several) are gathered a chunk at a
// time, so that the sums run over adjacent samples in vectors; a chunk is
// a multiple of 8 pixels, so each continues the running sums.
template <std::size_t Step, typename Sample>
inline void gather(Sample* to, const Sample* from, std::size_t count) noexcept {
    for (std::size_t j = 0; j < count; ++j) {
        to[j] = from[j * Step];
    }
}

template <typename Sample>
inline void add_squares_any(const Sample* got, std::size_t step, const double* ref, std::size_t w,
                            square_lanes& lanes, double& worst) noexcept {
    if (step == 1) {
        squares_of(got, ref, w, lanes, worst);
        return;
    }
    constexpr std::size_t chunk = 256;
    Sample near[chunk];
    for (std::size_t x = 0; x < w; x += chunk) {
        const std::size_t count = w - x < chunk ? w - x : chunk;
        const Sample* from = got + x * step;
        switch (step) {
            case 2:
                gather<2>(near, from, count);
                break;
            case 3:
                gather<3>(near, from, count);
                break;
            default:
                gather<4>(near, from, count);
                break;
        }
        squares_of(near, ref + x, count, lanes, worst);
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
    add_squares_any(got, step, ref, w, lanes, worst);
}

void add_squares8(const std::uint8_t* got, std::size_t step, const double* ref, std::size_t w,
                  square_lanes& lanes, double& worst) noexcept {
    add_squares_any(got, step, ref, w, lanes, worst);
}
}  // namespace tapsmith::TAPSMITH_ROWS

#undef TAPSMITH_ROWS
#if TAPSMITH_HAVE_HWY
HWY_AFTER_NAMESPACE();
#endif

#endif  // the per-target guard
