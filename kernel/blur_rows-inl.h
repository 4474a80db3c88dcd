// SPDX-License-Identifier: MIT
// The filter's row loops, compiled once for each instruction set the
// processor may have (included by blur.cpp, through Highway's
// foreach_target.h where Highway is found, once for the baseline where it
// is not). The arithmetic is exact integer arithmetic, so every copy gives
// the same bits; only the width of the vectors differs.

// Highway's per-target include guard: toggled on every pass.
#if defined(TAPSMITH_BLUR_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TAPSMITH_BLUR_ROWS_INL_H_
#undef TAPSMITH_BLUR_ROWS_INL_H_
#else
#define TAPSMITH_BLUR_ROWS_INL_H_
#endif

#if TAPSMITH_HAVE_HWY
#include <hwy/highway.h>
HWY_BEFORE_NAMESPACE();
#define TAPSMITH_ROWS HWY_NAMESPACE
// Real vector registers: Highway's emulated ones (its baseline where it
// knows no instruction set) are slower than the plain loops.
#define TAPSMITH_VECTOR_OPS (HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR)
#else
#define TAPSMITH_ROWS portable
#define TAPSMITH_VECTOR_OPS 0
#endif

namespace tapsmith::TAPSMITH_ROWS {
// Only blur.cpp includes this file, once per instruction set.
namespace {  // NOLINT(cert-dcl59-cpp)

#if TAPSMITH_VECTOR_OPS
namespace hn = hwy::HWY_NAMESPACE;

// The sums in 16- and 32-bit lanes are written out in Highway's operations;
// 64-bit lanes (taps of more than 16 bits), which not every instruction set
// multiplies, and the build without Highway keep the plain loops alone.
template <typename T>
constexpr bool vector_lanes = std::is_same_v<T, std::uint16_t> || std::is_same_v<T, std::uint32_t>;

// Lanes(d) values from p, widened to d's lanes when narrower.
template <typename D, typename T>
HWY_INLINE hn::Vec<D> load_wide(D d, const T* HWY_RESTRICT p) {
    if constexpr (sizeof(T) == sizeof(hn::TFromD<D>)) {
        return hn::LoadU(d, p);
    } else {
        return hn::PromoteTo(d, hn::LoadU(hn::Rebind<T, D>(), p));
    }
}

// Lanes(d) values to p, narrowed when p's type is narrower: every value
// fits it, so the saturating narrowing of a signed lane leaves it as it is.
template <typename D, typename T>
HWY_INLINE void store_narrow(D d, hn::Vec<D> v, T* HWY_RESTRICT p) {
    if constexpr (sizeof(T) == sizeof(hn::TFromD<D>)) {
        hn::StoreU(v, d, p);
    } else {
        const hn::RebindToSigned<D> signed_lanes;
        hn::StoreU(hn::DemoteTo(hn::Rebind<T, D>(), hn::BitCast(signed_lanes, v)), hn::Rebind<T, D>(), p);
    }
}
#endif

// H holds the vertical sums (P + B bits), V the 2-D ones (P + 2B bits).
// The casts after each multiply undo the promotion of a narrow type to int;
// the bounds make every product and sum fit the type it is cast to: each
// partial sum is at most (2^P - 1) times a partial sum of the taps, and a
// tap is at most 2^B, which H holds.
//
// Each sweep along a row takes several taps, so that the row of sums is
// loaded and stored once per sweep rather than once per tap; the loops over
// the terms have constant counts and unroll, leaving one plain loop over
// the row for the vectoriser.

// A term of a pass: tap t times line a, or, for two mirrored lines with
// equal taps, t times (line a + line b), which halves the multiplies.
template <typename Pixel, typename H>
struct term {
    H t;
    const Pixel* a;
    const Pixel* b;
};

// Up to four pairs and one single row (the centre) per sweep, or up to four
// single rows.
constexpr std::size_t vpairs_max = 4;
constexpr std::size_t vsingles_max = 4;

template <std::size_t KP, std::size_t KS, bool First, typename Pixel, typename H>
void vsweep(H* __restrict v, const term<Pixel, H>* pairs, const term<Pixel, H>* singles,
            std::size_t len) noexcept {
    H tp[KP + 1];
    const Pixel* a[KP + 1];
    const Pixel* b[KP + 1];
    H ts[KS + 1];
    const Pixel* c[KS + 1];
    for (std::size_t u = 0; u < KP; ++u) {
        tp[u] = pairs[u].t;
        a[u] = pairs[u].a;
        b[u] = pairs[u].b;
    }
    for (std::size_t u = 0; u < KS; ++u) {
        ts[u] = singles[u].t;
        c[u] = singles[u].a;
    }
    std::size_t k = 0;
#if TAPSMITH_VECTOR_OPS
    if constexpr (vector_lanes<H>) {
        const hn::ScalableTag<H> d;
        const std::size_t lanes = hn::Lanes(d);
        for (; k + lanes <= len; k += lanes) {
            auto x = hn::Zero(d);
            if constexpr (!First) {
                x = hn::LoadU(d, v + k);
            }
            for (std::size_t u = 0; u < KP; ++u) {
                x = hn::Add(
                    x, hn::Mul(hn::Set(d, tp[u]), hn::Add(load_wide(d, a[u] + k), load_wide(d, b[u] + k))));
            }
            for (std::size_t u = 0; u < KS; ++u) {
                x = hn::Add(x, hn::Mul(hn::Set(d, ts[u]), load_wide(d, c[u] + k)));
            }
            hn::StoreU(x, d, v + k);
        }
    }
#endif
    // The row's last values (all of them without vectors), one at a time.
    for (; k < len; ++k) {
        H x = First ? H{0} : v[k];
        for (std::size_t u = 0; u < KP; ++u) {
            x = static_cast<H>(x + static_cast<H>(tp[u] * static_cast<H>(static_cast<H>(a[u][k]) +
                                                                         static_cast<H>(b[u][k]))));
        }
        for (std::size_t u = 0; u < KS; ++u) {
            x = static_cast<H>(x + static_cast<H>(ts[u] * static_cast<H>(c[u][k])));
        }
        v[k] = x;
    }
}

template <std::size_t KP, bool First, typename Pixel, typename H>
void vsweep_s(H* v, const term<Pixel, H>* pairs, const term<Pixel, H>* singles, std::size_t ks,
              std::size_t len) noexcept {
    switch (ks) {
        case 0:
            if constexpr (KP > 0) {
                vsweep<KP, 0, First>(v, pairs, singles, len);
            }
            break;
        case 1:
            vsweep<KP, 1, First>(v, pairs, singles, len);
            break;
        case 2:
            vsweep<KP, 2, First>(v, pairs, singles, len);
            break;
        case 3:
            vsweep<KP, 3, First>(v, pairs, singles, len);
            break;
        default:
            vsweep<KP, 4, First>(v, pairs, singles, len);
            break;
    }
}

template <bool First, typename Pixel, typename H>
void vsweep_n(H* v, const term<Pixel, H>* pairs, std::size_t kp, const term<Pixel, H>* singles,
              std::size_t ks, std::size_t len) noexcept {
    switch (kp) {
        case 0:
            vsweep_s<0, First>(v, pairs, singles, ks, len);
            break;
        case 1:
            vsweep_s<1, First>(v, pairs, singles, ks, len);
            break;
        case 2:
            vsweep_s<2, First>(v, pairs, singles, ks, len);
            break;
        case 3:
            vsweep_s<3, First>(v, pairs, singles, ks, len);
            break;
        default:
            vsweep_s<4, First>(v, pairs, singles, ks, len);
            break;
    }
}

// The products of the horizontal pass widen H to V, from operands of H: the
// pattern a vectoriser turns into a widening multiply (16 x 16 -> 32 bits).
// The last sweep rounds and stores the output instead of the sums.
constexpr std::size_t hterms_max = 6;

template <std::size_t K, bool First, bool Last, typename Pixel, typename H, typename V>
void hsweep(V* __restrict acc, Pixel* __restrict out, const H* const* src, const H* taps, std::size_t len,
            V half, int shift) noexcept {
    H t[K];
    const H* s[K];
    for (std::size_t u = 0; u < K; ++u) {
        t[u] = taps[u];
        s[u] = src[u];
    }
    std::size_t k = 0;
#if TAPSMITH_VECTOR_OPS
    if constexpr (vector_lanes<V> && vector_lanes<H>) {
        const hn::ScalableTag<V> d;
        const std::size_t lanes = hn::Lanes(d);
        for (; k + lanes <= len; k += lanes) {
            auto x = hn::Zero(d);
            if constexpr (!First) {
                x = hn::LoadU(d, acc + k);
            }
            for (std::size_t u = 0; u < K; ++u) {
                x = hn::Add(x, hn::Mul(hn::Set(d, static_cast<V>(t[u])), load_wide(d, s[u] + k)));
            }
            if constexpr (Last) {
                store_narrow(d, hn::ShiftRightSame(hn::Add(x, hn::Set(d, half)), shift), out + k);
            } else {
                hn::StoreU(x, d, acc + k);
            }
        }
    }
#endif
    for (; k < len; ++k) {
        V x = First ? V{0} : acc[k];
        for (std::size_t u = 0; u < K; ++u) {
            x = static_cast<V>(x + static_cast<V>(static_cast<V>(t[u]) * static_cast<V>(s[u][k])));
        }
        if constexpr (Last) {
            out[k] = static_cast<Pixel>(static_cast<V>(x + half) >> shift);
        } else {
            acc[k] = x;
        }
    }
}

template <bool First, bool Last, typename Pixel, typename H, typename V>
void hsweep_n(V* acc, Pixel* out, const H* const* src, const H* taps, std::size_t count, std::size_t len,
              V half, int shift) noexcept {
    switch (count) {
        case 1:
            hsweep<1, First, Last>(acc, out, src, taps, len, half, shift);
            break;
        case 2:
            hsweep<2, First, Last>(acc, out, src, taps, len, half, shift);
            break;
        case 3:
            hsweep<3, First, Last>(acc, out, src, taps, len, half, shift);
            break;
        case 4:
            hsweep<4, First, Last>(acc, out, src, taps, len, half, shift);
            break;
        case 5:
            hsweep<5, First, Last>(acc, out, src, taps, len, half, shift);
            break;
        default:
            hsweep<6, First, Last>(acc, out, src, taps, len, half, shift);
            break;
    }
}

// The terms of a pass whose line i is src[i] (null: outside a zero
// border, contributing nothing): mirrored lines in pairs where the taps
// allow, the rest (the centre, lines whose mirror is outside, uneven taps)
// alone. Taps of 0 are left out.
template <typename In, typename H>
struct terms {
    term<In, H> pairs[FIXED_MAX];
    term<In, H> singles[FIXED_MAX];
    std::size_t npairs = 0;
    std::size_t nsingles = 0;
};

template <typename In, typename H>
void make_terms(const std::int64_t* taps, std::size_t n, bool symmetric, const In* const* src,
                terms<In, H>& out) noexcept {
    const std::size_t m = n / 2;
    out.npairs = 0;
    out.nsingles = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t mirror = n - 1 - i;
        const bool paired = symmetric && i != m && src[mirror] != nullptr;
        if (taps[i] == 0 || src[i] == nullptr || (paired && i > m)) {
            continue;
        }
        const auto t = static_cast<H>(taps[i]);
        if (paired) {
            out.pairs[out.npairs++] = {t, src[i], src[mirror]};
        } else {
            out.singles[out.nsingles++] = {t, src[i], nullptr};
        }
    }
}

// dst = the sum of the terms over len entries (0 when there are none).
template <typename In, typename H>
void sum_terms(H* dst, const terms<In, H>& t, std::size_t len) noexcept {
    bool stored = false;
    for (std::size_t up = 0, us = 0; up < t.npairs || us < t.nsingles;) {
        const std::size_t kp = t.npairs - up < vpairs_max ? t.npairs - up : vpairs_max;
        const std::size_t room = kp > 0 ? 1 : vsingles_max;
        const std::size_t ks = t.nsingles - us < room ? t.nsingles - us : room;
        if (stored) {
            vsweep_n<false>(dst, t.pairs + up, kp, t.singles + us, ks, len);
        } else {
            vsweep_n<true>(dst, t.pairs + up, kp, t.singles + us, ks, len);
        }
        stored = true;
        up += kp;
        us += ks;
    }
    if (!stored) {
        for (std::size_t k = 0; k < len; ++k) {
            dst[k] = 0;
        }
    }
}

// With 16-bit vertical sums and taps of at most 8 bits, the horizontal
// pass splits each sum into its low and high bytes and filters the two
// byte planes apart: every sum of a plane is at most 255 * 2^B, so both
// run in 16-bit lanes, with mirrored pairs, as the vertical pass does,
// instead of widening every product to 32 bits. The plane sums join,
// exactly, as high * 256 + low.
template <typename H, typename V>
bool use_planes(const shape& s) noexcept {
    constexpr bool planes_fit = std::is_same_v<H, std::uint16_t> && std::is_same_v<V, std::uint32_t>;
    // Splitting and joining cost more than they save for the smallest filters.
    return planes_fit && s.bits <= 8 && s.n > 5;
}

// The low and high bytes of count 16-bit sums.
template <typename H>
void split_bytes(const H* __restrict from, std::uint8_t* __restrict low, std::uint8_t* __restrict high,
                 std::size_t count) noexcept {
    std::size_t k = 0;
#if TAPSMITH_VECTOR_OPS
    if constexpr (std::is_same_v<H, std::uint16_t>) {
        const hn::ScalableTag<std::uint16_t> d;
        const std::size_t lanes = hn::Lanes(d);
        for (; k + lanes <= count; k += lanes) {
            const auto v = hn::LoadU(d, from + k);
            store_narrow(d, hn::And(v, hn::Set(d, std::uint16_t{0xff})), low + k);
            store_narrow(d, hn::ShiftRight<8>(v), high + k);
        }
    }
#endif
    for (; k < count; ++k) {
        low[k] = static_cast<std::uint8_t>(from[k] & 0xffU);
        high[k] = static_cast<std::uint8_t>(from[k] >> 8U);
    }
}

// The byte planes' sums joined (high * 256 + low), rounded and shifted.
template <typename H, typename V, typename Pixel>
void join_planes(const H* __restrict low, const H* __restrict high, Pixel* __restrict out, std::size_t count,
                 V half, int shift) noexcept {
    std::size_t k = 0;
#if TAPSMITH_VECTOR_OPS
    if constexpr (vector_lanes<H> && vector_lanes<V>) {
        const hn::ScalableTag<V> d;
        const std::size_t lanes = hn::Lanes(d);
        for (; k + lanes <= count; k += lanes) {
            const auto sum = hn::Add(hn::ShiftLeft<8>(load_wide(d, high + k)), load_wide(d, low + k));
            store_narrow(d, hn::ShiftRightSame(hn::Add(sum, hn::Set(d, half)), shift), out + k);
        }
    }
#endif
    for (; k < count; ++k) {
        const auto sum = static_cast<V>((static_cast<V>(high[k]) << 8U) + low[k]);
        out[k] = static_cast<Pixel>(static_cast<V>(sum + half) >> shift);
    }
}

// The row buffers of one thread: every band of output rows has its own.
template <typename H, typename V>
struct workspace {
    buffer<H> vrow;
    buffer<V> acc;
    buffer<std::uint8_t> plane;
    buffer<H> plane_sums;
    buffer<std::ptrdiff_t> cols;

    [[nodiscard]] bool allocate_for(const shape& s) noexcept {
        const std::size_t m = s.n / 2;
        const std::size_t line = s.width * s.channels;
        const std::size_t padded = (s.width + 2 * m) * s.channels;
        const bool planes = use_planes<H, V>(s);
        vrow = allocate<H>(padded);
        acc = allocate<V>(planes ? 1 : line);
        plane = allocate<std::uint8_t>(planes ? 2 * padded : 1);
        plane_sums = allocate<H>(planes ? 2 * line : 1);
        cols = allocate<std::ptrdiff_t>(2 * m + 1);
        return vrow && acc && plane && plane_sums && cols;
    }
};

// Output rows top .. bottom - 1: each reads the input alone, so bands of
// rows need nothing from one another.
template <typename Pixel, typename H, typename V>
void filter_rows(const Pixel* in, Pixel* out, const shape& s, const std::int64_t* taps, workspace<H, V>& ws,
                 std::size_t top, std::size_t bottom) noexcept {
    const std::size_t m = s.n / 2;
    const std::size_t c = s.channels;
    const std::size_t line = s.width * c;
    const std::size_t padded = (s.width + 2 * m) * c;
    const bool planes = use_planes<H, V>(s);
    buffer<H>& vrow = ws.vrow;
    buffer<V>& acc = ws.acc;
    buffer<std::uint8_t>& plane = ws.plane;
    buffer<H>& plane_sums = ws.plane_sums;
    buffer<std::ptrdiff_t>& cols = ws.cols;

    bool symmetric = true;
    for (std::size_t i = 0; i < s.n; ++i) {
        symmetric = symmetric && taps[i] == taps[s.n - 1 - i];
    }

    // The horizontal terms are the same on every row: the nonzero taps and
    // where their column starts in the padded row.
    H htaps[FIXED_MAX];
    const H* hsrc[FIXED_MAX];
    std::size_t hcount = 0;
    for (std::size_t j = 0; j < s.n; ++j) {
        if (taps[j] != 0) {
            htaps[hcount] = static_cast<H>(taps[j]);
            hsrc[hcount] = vrow.get() + j * c;
            ++hcount;
        }
    }
    std::uint8_t* const low = plane.get();
    std::uint8_t* const high = plane.get() + padded;
    H* const low_sums = plane_sums.get();
    H* const high_sums = plane_sums.get() + line;
    terms<std::uint8_t, H> low_terms;
    terms<std::uint8_t, H> high_terms;
    if (planes) {
        const std::uint8_t* src[FIXED_MAX] = {};
        for (std::size_t j = 0; j < s.n; ++j) {
            src[j] = low + j * c;
        }
        make_terms(taps, s.n, symmetric, src, low_terms);
        for (std::size_t j = 0; j < s.n; ++j) {
            src[j] = high + j * c;
        }
        make_terms(taps, s.n, symmetric, src, high_terms);
    }

    // The padding columns: m on the left, then m on the right, each the
    // column it copies or `outside`.
    const auto w = static_cast<std::ptrdiff_t>(s.width);
    const auto mm = static_cast<std::ptrdiff_t>(m);
    for (std::ptrdiff_t q = 0; q < mm; ++q) {
        cols[static_cast<std::size_t>(q)] = map_index(q - mm, w, s.how);
        cols[m + static_cast<std::size_t>(q)] = map_index(w + q, w, s.how);
    }

    const auto half = static_cast<V>(V{1} << (2 * s.bits - 1));
    const int shift = 2 * s.bits;
    H* const v = vrow.get() + m * c;
    const auto h = static_cast<std::ptrdiff_t>(s.height);
    terms<Pixel, H> vterms;

    for (std::size_t y = top; y < bottom; ++y) {
        const Pixel* rows[FIXED_MAX] = {};
        for (std::size_t i = 0; i < s.n; ++i) {
            const std::ptrdiff_t r = map_index(static_cast<std::ptrdiff_t>(y + i) - mm, h, s.how);
            rows[i] = r == outside ? nullptr : in + static_cast<std::size_t>(r) * line;
        }
        make_terms(taps, s.n, symmetric, rows, vterms);
        sum_terms(v, vterms, line);

        // The horizontal border, from the vertical sums just made.
        for (std::size_t q = 0; q < 2 * m; ++q) {
            const std::ptrdiff_t from = cols[q];
            H* dst = q < m ? vrow.get() + q * c : v + line + (q - m) * c;
            for (std::size_t k = 0; k < c; ++k) {
                dst[k] = from == outside ? H{0} : v[static_cast<std::size_t>(from) * c + k];
            }
        }

        Pixel* const o = out + (y - s.out_first) * line;
        if (planes) {
            split_bytes(vrow.get(), low, high, padded);
            sum_terms(low_sums, low_terms, line);
            sum_terms(high_sums, high_terms, line);
            join_planes(low_sums, high_sums, o, line, half, shift);
            continue;
        }

        // Horizontal pass over the padded row; the last sweep rounds.
        for (std::size_t u = 0; u < hcount; u += hterms_max) {
            const std::size_t count = hcount - u < hterms_max ? hcount - u : hterms_max;
            const bool first = u == 0;
            const bool last = u + count == hcount;
            if (first && last) {
                hsweep_n<true, true>(acc.get(), o, hsrc + u, htaps + u, count, line, half, shift);
            } else if (first) {
                hsweep_n<true, false>(acc.get(), o, hsrc + u, htaps + u, count, line, half, shift);
            } else if (last) {
                hsweep_n<false, true>(acc.get(), o, hsrc + u, htaps + u, count, line, half, shift);
            } else {
                hsweep_n<false, false>(acc.get(), o, hsrc + u, htaps + u, count, line, half, shift);
            }
        }
    }
}

// Output rows top .. bottom - 1, in bands a thread.
template <typename Pixel, typename H, typename V>
status filter(const Pixel* in, Pixel* out, const shape& s, const std::int64_t* taps, std::int32_t threads,
              std::size_t top, std::size_t bottom) noexcept {
    const std::size_t bands = thread_count(threads, bottom - top);
    // Every band's buffers exist before any row is written, so that running
    // out of memory leaves out untouched.
    std::vector<workspace<H, V>> spaces;
    std::vector<std::thread> workers;
    try {
        spaces.resize(bands);
        workers.reserve(bands);
    } catch (const std::bad_alloc&) {
        return status::out_of_memory;
    }
    for (std::size_t b = 0; b < bands; ++b) {
        if (!spaces[b].allocate_for(s)) {
            return status::out_of_memory;
        }
    }
    // Band b is rows top + rows b / bands .. top + rows (b + 1) / bands - 1;
    // both products stay below 2^32.
    const auto row = [&](std::size_t b) { return top + (bottom - top) * b / bands; };
    const auto run = [&](std::size_t b) noexcept {
        filter_rows(in, out, s, taps, spaces[b], row(b), row(b + 1));
    };
    // A thread the system refuses to start (the only throw left: the room
    // for the threads is reserved) leaves its band, and those after it, to
    // this one: fewer threads, the same rows.
    std::size_t started = 1;
    for (; started < bands; ++started) {
        try {
            workers.emplace_back(run, started);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    run(0);
    for (std::size_t b = started; b < bands; ++b) {
        run(b);
    }
    for (std::thread& t : workers) {
        t.join();
    }
    return status::ok;
}

template <typename Pixel>
status filter_any(const Pixel* in, Pixel* out, const shape& s, const std::int64_t* taps, std::int32_t threads,
                  std::int32_t pixel_bits, std::size_t top, std::size_t bottom) noexcept {
    const std::int32_t bits = s.bits;
    const std::int32_t vertical = pixel_bits + bits;
    const std::int32_t full = pixel_bits + 2 * bits;
    if (full <= 16) {
        return filter<Pixel, std::uint16_t, std::uint16_t>(in, out, s, taps, threads, top, bottom);
    }
    if (vertical <= 16) {
        return filter<Pixel, std::uint16_t, std::uint32_t>(in, out, s, taps, threads, top, bottom);
    }
    if (full <= 32) {
        return filter<Pixel, std::uint32_t, std::uint32_t>(in, out, s, taps, threads, top, bottom);
    }
    if (vertical <= 32) {
        return filter<Pixel, std::uint32_t, std::uint64_t>(in, out, s, taps, threads, top, bottom);
    }
    return filter<Pixel, std::uint64_t, std::uint64_t>(in, out, s, taps, threads, top, bottom);
}

status filter8(const std::uint8_t* in, std::uint8_t* out, const shape& s, const std::int64_t* taps,
               std::int32_t threads, std::int32_t pixel_bits, std::size_t top, std::size_t bottom) noexcept {
    return filter_any(in, out, s, taps, threads, pixel_bits, top, bottom);
}

status filter16(const std::uint16_t* in, std::uint16_t* out, const shape& s, const std::int64_t* taps,
                std::int32_t threads, std::int32_t pixel_bits, std::size_t top, std::size_t bottom) noexcept {
    return filter_any(in, out, s, taps, threads, pixel_bits, top, bottom);
}

}  // namespace
}  // namespace tapsmith::TAPSMITH_ROWS

#undef TAPSMITH_ROWS
#undef TAPSMITH_VECTOR_OPS
#if TAPSMITH_HAVE_HWY
HWY_AFTER_NAMESPACE();
#endif

#endif  // the per-target guard
