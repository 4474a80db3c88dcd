// SPDX-License-Identifier: MIT
// The double-precision reference's row loops (samples made doubles, its
// weighted sums and a row's squared errors), compiled once for each instruction set the
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

#if TAPSMITH_HAVE_HWY && HWY_TARGET != HWY_SCALAR && !HWY_HAVE_SCALABLE
#define TAPSMITH_ROW_VECTORS 1
namespace hn = hwy::HWY_NAMESPACE;
// Eight pixels' doubles at most a vector (the eight running sums below are
// 8 / N vectors of N lanes).
using pixel_tag = hn::CappedTag<double, 8>;
constexpr std::size_t pixel_lanes = hn::MaxLanes(pixel_tag{});

// One channel of N pixels `Step` samples apart as doubles. The load takes
// every channel of the N pixels: the caller keeps it inside the row.
template <std::size_t Step, typename Sample>
inline hn::Vec<pixel_tag> load_pixels(const Sample* at) noexcept {
    const pixel_tag d;
    const hn::Rebind<std::int32_t, pixel_tag> di;
    const hn::Rebind<Sample, pixel_tag> ds;
    hn::Vec<decltype(ds)> v;
    if constexpr (Step == 1) {
        v = hn::LoadU(ds, at);
    } else if constexpr (Step == 2) {
        hn::Vec<decltype(ds)> other;
        hn::LoadInterleaved2(ds, at, v, other);
    } else if constexpr (Step == 3) {
        hn::Vec<decltype(ds)> b;
        hn::Vec<decltype(ds)> c;
        hn::LoadInterleaved3(ds, at, v, b, c);
    } else {
        hn::Vec<decltype(ds)> b;
        hn::Vec<decltype(ds)> c;
        hn::Vec<decltype(ds)> e;
        hn::LoadInterleaved4(ds, at, v, b, c, e);
    }
    return hn::PromoteTo(d, hn::PromoteTo(di, v));
}
#else
#define TAPSMITH_ROW_VECTORS 0
#endif

// Pixels the vectors take of `count`, a multiple of 8: with several
// channels, the last pixel's other channels may lie past the row, so the
// last pixel is always left to the scalar loop.
template <std::size_t Step>
constexpr std::size_t vector_pixels(std::size_t count) noexcept {
    const std::size_t safe = Step == 1 ? count : (count > 0 ? count - 1 : 0);
    return safe / 8 * 8;
}

// A row's squared errors into its eight running sums (square_lanes),
// pixel x in sum x mod 8, written out, not left to the vectors' width, so
// that every processor and build adds the same numbers in the same order.
template <std::size_t Step, typename Sample>
inline void squares_of(const Sample* got, const double* ref, std::size_t w, square_lanes& lanes,
                       double& worst) noexcept {
    std::size_t x = 0;
#if TAPSMITH_ROW_VECTORS
    // Sum j in lane j mod N of vector j / N.
    const pixel_tag d;
    constexpr std::size_t groups = 8 / pixel_lanes;
    hn::Vec<pixel_tag> acc[groups];
    hn::Vec<pixel_tag> big[groups];
    for (std::size_t g = 0; g < groups; ++g) {
        acc[g] = hn::LoadU(d, lanes.at + g * pixel_lanes);
        big[g] = hn::Zero(d);
    }
    for (const std::size_t end = vector_pixels<Step>(w); x < end; x += 8) {
        for (std::size_t g = 0; g < groups; ++g) {
            const std::size_t at = x + g * pixel_lanes;
            const auto e = hn::Sub(load_pixels<Step>(got + at * Step), hn::LoadU(d, ref + at));
            acc[g] = hn::Add(acc[g], hn::Mul(e, e));
            big[g] = hn::Max(big[g], hn::Abs(e));
        }
    }
    for (std::size_t g = 0; g < groups; ++g) {
        hn::StoreU(acc[g], d, lanes.at + g * pixel_lanes);
        worst = std::max(worst, hn::GetLane(hn::MaxOfLanes(d, big[g])));
    }
#endif
    // What is left of the row (all of it without vectors), sum x mod 8 each.
    for (; x < w; ++x) {
        const double e = static_cast<double>(got[x * Step]) - ref[x];
        lanes.at[x % 8] += e * e;
        worst = std::max(worst, e < 0.0 ? -e : e);
    }
}

// to[k] = from[k Step] as doubles, k < count.
template <std::size_t Step, typename Sample>
inline void widen_by(const Sample* from, double* to, std::size_t count) noexcept {
    std::size_t k = 0;
#if TAPSMITH_ROW_VECTORS
    for (const std::size_t end = vector_pixels<Step>(count); k < end; k += pixel_lanes) {
        hn::StoreU(load_pixels<Step>(from + k * Step), pixel_tag{}, to + k);
    }
#endif
    for (; k < count; ++k) {
        to[k] = static_cast<double>(from[k * Step]);
    }
}

template <typename Sample>
inline void add_squares_any(const Sample* got, std::size_t step, const double* ref, std::size_t w,
                            square_lanes& lanes, double& worst) noexcept {
    switch (step) {
        case 1:
            squares_of<1>(got, ref, w, lanes, worst);
            break;
        case 2:
            squares_of<2>(got, ref, w, lanes, worst);
            break;
        case 3:
            squares_of<3>(got, ref, w, lanes, worst);
            break;
        default:
            squares_of<4>(got, ref, w, lanes, worst);
            break;
    }
}

template <typename Sample>
inline void widen_any(const Sample* from, std::size_t step, double* to, std::size_t count) noexcept {
    switch (step) {
        case 1:
            widen_by<1>(from, to, count);
            break;
        case 2:
            widen_by<2>(from, to, count);
            break;
        case 3:
            widen_by<3>(from, to, count);
            break;
        default:
            widen_by<4>(from, to, count);
            break;
    }
}

#undef TAPSMITH_ROW_VECTORS
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

void widen16(const std::uint16_t* from, std::size_t step, double* to, std::size_t count) noexcept {
    widen_any(from, step, to, count);
}

void widen8(const std::uint8_t* from, std::size_t step, double* to, std::size_t count) noexcept {
    widen_any(from, step, to, count);
}
}  // namespace tapsmith::TAPSMITH_ROWS

#undef TAPSMITH_ROWS
#if TAPSMITH_HAVE_HWY
HWY_AFTER_NAMESPACE();
#endif

#endif  // the per-target guard
