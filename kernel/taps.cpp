// SPDX-License-Identifier: MIT
#include <tapsmith/fixed.hpp>
#include <tapsmith/kernel.hpp>

#include "tapsmith/detail/platform.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <numbers>

namespace tapsmith {

namespace {

constexpr std::size_t HALF_MAX = FIXED_MAX / 2 + 1;
using half_table = std::array<std::int64_t, HALF_MAX>;

constexpr double no_cost = std::numeric_limits<double>::infinity();

// The kernel is fitted on one half: distance k = 0 .. m from the centre, the
// centre tap counted once and every other distance twice.
struct problem {
    std::size_t m = 0;
    std::int64_t total = 0;
    std::array<double, HALF_MAX> ideal{};  // r at distance k
};

// The deviation exactly as the selection rule computes it.
double deviation(std::int64_t c, double r) {
    return std::fabs(static_cast<double>(c) - r);
}

double squared(std::int64_t c, double r) {
    const double dev = deviation(c, r);
    return dev * dev;
}

// The taps c in 0 .. total with deviation(c, r) <= limit. The computed
// deviation falls and then rises as c grows (rounding is monotone), so they
// form one interval around r; ceil and floor of r -+ limit are only a first
// guess, corrected with the exact predicate.
bool allowed(double r, double limit, std::int64_t total, std::int64_t& lo, std::int64_t& hi) {
    const auto clamp = [total](double x) {
        return static_cast<std::int64_t>(std::fmin(std::fmax(x, 0.0), static_cast<double>(total)));
    };
    const auto ok = [r, limit](std::int64_t c) { return deviation(c, r) <= limit; };
    const std::int64_t below = clamp(std::floor(r));
    const std::int64_t above = std::min(below + 1, total);
    std::int64_t inside = 0;
    if (ok(below)) {
        inside = below;
    } else if (ok(above)) {
        inside = above;
    } else {
        return false;
    }
    lo = std::min(clamp(std::ceil(r - limit)), inside);
    while (lo > 0 && ok(lo - 1)) {
        --lo;
    }
    while (!ok(lo)) {
        ++lo;
    }
    hi = std::max(clamp(std::floor(r + limit)), inside);
    while (hi < total && ok(hi + 1)) {
        ++hi;
    }
    while (!ok(hi)) {
        --hi;
    }
    return true;
}

// The bounds every distance's tap must keep under a largest deviation, made
// monotone: a tap can be no larger than any tap inside it, nor smaller than
// any outside it. Also the centre's range: even (the total is), and leaving
// at least the outer lower bounds' sum for the outer taps.
struct bounds {
    half_table lo{};
    half_table hi{};
    std::int64_t centre_lo = 0;
    std::int64_t centre_hi = 0;
};

bool bounds_for(const problem& p, double limit, bounds& b) {
    for (std::size_t k = 0; k <= p.m; ++k) {
        if (!allowed(p.ideal[k], limit, p.total, b.lo[k], b.hi[k])) {
            return false;
        }
    }
    for (std::size_t k = 1; k <= p.m; ++k) {
        b.hi[k] = std::min(b.hi[k], b.hi[k - 1]);
    }
    for (std::size_t k = p.m; k-- > 0;) {
        b.lo[k] = std::max(b.lo[k], b.lo[k + 1]);
    }
    std::int64_t outer_lo = 0;
    for (std::size_t k = 0; k <= p.m; ++k) {
        if (b.lo[k] > b.hi[k]) {
            return false;
        }
        outer_lo += k > 0 ? b.lo[k] : 0;
    }
    b.centre_hi = std::min(b.hi[0], p.total - 2 * outer_lo);
    b.centre_hi -= b.centre_hi & 1;
    b.centre_lo = b.lo[0] + (b.lo[0] & 1);
    return b.centre_lo <= b.centre_hi;
}

// Whether some kernel keeps every deviation within limit. For a fixed centre
// c the outer taps form a non-increasing chain between monotone bounds
// capped at c, whose sums fill the whole interval from the lower bounds' sum
// to the capped upper bounds' sum (raise the innermost tap below its cap, one
// unit at a time). The largest admissible centre needs the smallest outer
// sum and allows the largest, so it alone decides.
bool feasible(const problem& p, double limit) {
    bounds b;
    if (!bounds_for(p, limit, b)) {
        return false;
    }
    const std::int64_t c = b.centre_hi;
    std::int64_t reach = 0;
    for (std::size_t k = 1; k <= p.m; ++k) {
        reach += std::min(b.hi[k], c);
    }
    return (p.total - c) / 2 <= reach;
}

// The smallest largest deviation by bisecting the bit patterns of the
// non-negative doubles, which order like the integers. A centre of total
// and zeros elsewhere keeps every deviation below 2 total + 1.
double bisected_deviation(const problem& p) {
    std::uint64_t lo = 0;
    auto hi = std::bit_cast<std::uint64_t>(2.0 * static_cast<double>(p.total) + 1.0);
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (feasible(p, std::bit_cast<double>(mid))) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return std::bit_cast<double>(lo);
}

// The smallest largest deviation. Feasibility depends on the limit only
// through the tests deviation(c, r) <= limit, so it is one of the
// deviations themselves: with a feasible limit found by doubling from 1,
// the answer is the least feasible of the deviations of the taps within it
// of their ideals, a few for each distance, found by bisecting them sorted.
// Where they would be many, the doubles are bisected instead.
double smallest_largest_deviation(const problem& p) {
    constexpr std::size_t most = 1024;
    double feasible_limit = 1.0;
    while (feasible_limit < 8.0 && !feasible(p, feasible_limit)) {
        feasible_limit *= 2.0;
    }
    std::array<double, most> candidate{};
    std::size_t count = 0;
    bool few = feasible_limit < 8.0;
    for (std::size_t k = 0; few && k <= p.m; ++k) {
        const double r = p.ideal[k];
        const auto first = static_cast<std::int64_t>(std::fmax(std::floor(r - feasible_limit) - 1.0, 0.0));
        const auto last = static_cast<std::int64_t>(
            std::fmin(std::ceil(r + feasible_limit) + 1.0, static_cast<double>(p.total)));
        for (std::int64_t c = first; c <= last; ++c) {
            if (count == most) {
                few = false;
                break;
            }
            const double d = deviation(c, r);
            if (d <= feasible_limit) {
                candidate[count++] = d;
            }
        }
    }
    if (few) {
        std::sort(candidate.begin(), candidate.begin() + static_cast<std::ptrdiff_t>(count));
        std::size_t lo = 0;
        std::size_t hi = count;  // candidate[hi] is feasible, or hi is count
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (feasible(p, candidate[mid])) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        if (lo < count) {
            return candidate[lo];
        }
    }
    return bisected_deviation(p);
}

// The canonical sum of squared deviations: left to right over all n taps, as
// the selection rule is defined (the rounding of this very sum breaks ties).
double canonical_squares(const problem& p, const half_table& c) {
    double sum = 0.0;
    for (std::size_t k = p.m + 1; k-- > 0;) {
        sum += squared(c[k], p.ideal[k]);
    }
    for (std::size_t k = 1; k <= p.m; ++k) {
        sum += squared(c[k], p.ideal[k]);
    }
    return sum;
}

// best(k, cap, rem): the least cost of the taps at distances k .. m when the
// tap inside them is cap and they sum to rem. Only the caps that can bind
// (below the bound hi[k]) and the sums still reachable from both ends are
// stored.
class suffix_costs {
  public:
    bool build(const problem& p, const bounds& b) {
        m_ = p.m;
        if (m_ == 0) {
            return true;
        }
        std::int64_t inner_lo = 0;
        std::int64_t inner_hi = 0;
        std::int64_t outer_lo = 0;
        std::int64_t outer_hi = 0;
        for (std::size_t k = 1; k <= m_; ++k) {
            outer_lo += b.lo[k];
            outer_hi += b.hi[k];
        }
        const std::int64_t sum_lo = (p.total - b.centre_hi) / 2;
        const std::int64_t sum_hi = (p.total - b.centre_lo) / 2;
        std::size_t size = 0;
        for (std::size_t k = 1; k <= m_; ++k) {
            level& l = levels_[k];
            l.cap_lo = std::min(b.lo[k - 1], b.hi[k]);
            l.cap_hi = b.hi[k];
            l.rem_lo = std::max(outer_lo, sum_lo - inner_hi);
            l.rem_hi = std::min(outer_hi, sum_hi - inner_lo);
            if (l.rem_lo > l.rem_hi) {
                return false;
            }
            l.offset = size;
            l.rems = static_cast<std::size_t>(l.rem_hi - l.rem_lo + 1);
            const auto caps = static_cast<std::size_t>(l.cap_hi - l.cap_lo + 1);
            // Samples that fall from the centre outward keep every deviation
            // below 3, so the table stays below about 10^5 entries; this
            // only guards the arithmetic below.
            constexpr std::size_t limit = std::size_t{1} << 24;
            if (l.rems > limit / caps || size > limit - l.rems * caps) {
                return false;
            }
            size += l.rems * caps;
            inner_lo += b.lo[k];
            inner_hi += b.hi[k];
            outer_lo -= b.lo[k];
            outer_hi -= b.hi[k];
        }
        if (size > local_.size()) {
            heap_.reset(new (std::nothrow) double[size]);
            if (!heap_) {
                return false;
            }
            table_ = heap_.get();
        } else {
            table_ = local_.data();
        }
        for (std::size_t k = m_; k >= 1; --k) {
            const level& l = levels_[k];
            const double r = p.ideal[k];
            for (std::int64_t rem = l.rem_lo; rem <= l.rem_hi; ++rem) {
                double running = no_cost;
                for (std::int64_t c = b.lo[k]; c <= b.hi[k]; ++c) {
                    const double here = 2.0 * squared(c, r);
                    running = std::fmin(running, here + rest(k + 1, c, rem - c));
                    if (c >= l.cap_lo) {
                        table_[index(l, c, rem)] = running;
                    }
                }
            }
        }
        return true;
    }

    // The least cost of the taps from distance k outward, below cap and
    // summing to rem; no_cost when they cannot.
    [[nodiscard]] double rest(std::size_t k, std::int64_t cap, std::int64_t rem) const {
        if (k > m_) {
            return rem == 0 ? 0.0 : no_cost;
        }
        const level& l = levels_[k];
        if (rem < l.rem_lo || rem > l.rem_hi || cap < l.cap_lo) {
            return no_cost;
        }
        return table_[index(l, std::min(cap, l.cap_hi), rem)];
    }

  private:
    struct level {
        std::int64_t cap_lo = 0;
        std::int64_t cap_hi = 0;
        std::int64_t rem_lo = 0;
        std::int64_t rem_hi = 0;
        std::size_t offset = 0;
        std::size_t rems = 0;
    };

    static std::size_t index(const level& l, std::int64_t cap, std::int64_t rem) {
        return l.offset + static_cast<std::size_t>(cap - l.cap_lo) * l.rems +
               static_cast<std::size_t>(rem - l.rem_lo);
    }

    std::size_t m_ = 0;
    std::array<level, HALF_MAX + 1> levels_{};
    // Enough for most filters up to 127 taps; long flat ones take the heap.
    std::array<double, 4096> local_;
    std::unique_ptr<double[]> heap_;
    double* table_ = nullptr;
};

// Every kernel whose cost (the sum of squares in the table's own rounding)
// is within a relative 2^-36 of the least: the canonical sum differs from
// any other order of the same non-negative terms by a relative n 2^-53 at
// most, so the canonical winner is among them. Visited centre first, larger
// taps first, so of equal canonical sums the first one found wins.
struct search {
    const problem& p;
    const bounds& b;
    const suffix_costs& costs;
    double threshold = 0.0;
    half_table c{};
    half_table best{};
    double best_squares = 0.0;
    bool found = false;

    void visit(std::size_t k, std::int64_t rem, double cost) {
        if (k > p.m) {
            const double squares = canonical_squares(p, c);
            if (!found || squares < best_squares) {
                found = true;
                best = c;
                best_squares = squares;
            }
            return;
        }
        for (std::int64_t v = std::min(b.hi[k], c[k - 1]); v >= b.lo[k]; --v) {
            if (v > rem) {
                continue;
            }
            const double here = cost + 2.0 * squared(v, p.ideal[k]);
            if (here + costs.rest(k + 1, v, rem - v) <= threshold) {
                c[k] = v;
                visit(k + 1, rem - v, here);
            }
        }
    }
};

bool fit_taps(const problem& p, half_table& out) {
    const double limit = smallest_largest_deviation(p);
    bounds b;
    if (!bounds_for(p, limit, b)) {
        return false;
    }
    suffix_costs costs;
    if (!costs.build(p, b)) {
        return false;
    }
    double least = no_cost;
    for (std::int64_t centre = b.centre_hi; centre >= b.centre_lo; centre -= 2) {
        const double cost = squared(centre, p.ideal[0]) + costs.rest(1, centre, (p.total - centre) / 2);
        least = std::fmin(least, cost);
    }
    if (!(least < no_cost)) {
        return false;
    }
    search s{p, b, costs, least + std::ldexp(least, -36)};
    for (std::int64_t centre = b.centre_hi; centre >= b.centre_lo; centre -= 2) {
        const double cost = squared(centre, p.ideal[0]);
        const std::int64_t rem = (p.total - centre) / 2;
        if (cost + costs.rest(1, centre, rem) <= s.threshold) {
            s.c[0] = centre;
            s.visit(1, rem, cost);
        }
    }
    out = s.best;
    return s.found;
}

}  // namespace

status get_fixed_samples(std::int32_t n, double sigma, sampling how, fixed_samples& gf) noexcept {
    gf.fill(0.0);
    if (n < 1 || n > FIXED_MAX || n % 2 == 0) {
        return status::bad_count;
    }
    if (!std::isfinite(sigma) || !(sigma > 0.0)) {
        return status::bad_sigma;
    }
    const auto taps = static_cast<std::size_t>(n);
    const std::int32_t centre = (n - 1) / 2;
    fixed_samples samples{};
    for (std::int32_t i = 0; i < n; ++i) {
        double s = 0.0;
        if (how == sampling::area) {
            const auto e = static_cast<double>(std::abs(i - centre));
            s = 0.5 * (std::erfc((e - 0.5) / (sigma * std::numbers::sqrt2)) -
                       std::erfc((e + 0.5) / (sigma * std::numbers::sqrt2)));
        } else {
            s = gaussian_sampling(n, i, sigma);
        }
        samples[static_cast<std::size_t>(i)] = s;
    }
    // As get_float_coeffs normalises, so that n <= DIM_MAX gives its digits.
    double sum = 0.0;
    for (std::size_t i = 0; i < taps; ++i) {
        sum = samples[i] + sum;
    }
    const double inv = 1.0 / sum;
    for (std::size_t i = 0; i < taps; ++i) {
        gf[i] = samples[i] * inv;
        // 2 sigma^2 underflowing to 0 makes the centre 0/0; area samples of
        // a huge sigma all cancel to 0, and 0 * (1/0) is NaN.
        if (!std::isfinite(gf[i])) {
            gf.fill(0.0);
            return status::bad_sigma;
        }
    }
    // Area samples are differences of erfc values near 1; beyond sigma of
    // about 1.7e5 their rounding outweighs the Gaussian's fall, and taps
    // fitted to that noise would be meaningless (and costly to fit exactly).
    for (std::size_t i = taps / 2; i + 1 < taps; ++i) {
        if (how == sampling::area && gf[i + 1] > gf[i]) {
            gf.fill(0.0);
            return status::bad_sigma;
        }
    }
    return status::ok;
}

status get_fixed_taps(std::int32_t n, double sigma, std::int32_t bits, sampling how,
                      fixed_taps& taps) noexcept {
    taps.fill(0);
    fixed_samples gf{};
    if (const status s = get_fixed_samples(n, sigma, how, gf); s != status::ok) {
        return s;
    }
    if (bits < 1 || bits > FIXED_BITS_MAX) {
        return status::bad_bits;
    }
    problem p;
    p.m = static_cast<std::size_t>(n / 2);
    p.total = std::int64_t{1} << bits;
    for (std::size_t k = 0; k <= p.m; ++k) {
        p.ideal[k] = static_cast<double>(p.total) * gf[p.m + k];
    }
    half_table half{};
    // The problem always has a solution: only the search table's memory can fail.
    if (!fit_taps(p, half)) {
        return status::out_of_memory;
    }
    for (std::size_t k = 0; k <= p.m; ++k) {
        taps[p.m - k] = half[k];
        taps[p.m + k] = half[k];
    }
    return status::ok;
}

bool get_fixed_coeffs(std::int32_t n, double sigma, std::int32_t bits, int_table& out) noexcept {
    out.fill(0);
    fixed_taps taps{};
    if (n > DIM_MAX || get_fixed_taps(n, sigma, bits, sampling::point, taps) != status::ok) {
        return false;
    }
    std::copy_n(taps.begin(), DIM_MAX, out.begin());
    return true;
}

}  // namespace tapsmith
