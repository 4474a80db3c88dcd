// SPDX-License-Identifier: MIT
// The cheapest taps: a branch-and-bound over every admissible kernel for
// the fewest adders a pass within an error bound.
//
// Costs are scale-free: a kernel at B bits doubled is a kernel at B + 1
// with the same signed digits, the same adders and the same error, so one
// search at the largest B covers every smaller one, and the kernel found is
// then halved while all its taps are even. The error bound gives every tap
// a window: with a_i = t_i 2^-B and GF summing to 1,
//   sum_ij |a_i a_j - GF_i GF_j| >= sum_i |a_i sum_j a_j - GF_i sum_j GF_j| = sum_i |a_i - GF_i|,
// and as the outer taps' deviations d_k fix the centre's at -2 sum d_k,
// that sum is at least 4 |d_k| for an outer tap and 2 |d_m| for the centre.
// Within the windows the outer taps are enumerated by their signed digits,
// cheapest budgets first; the centre is what the sum 2^B leaves.
#include <tapsmith/fixed.hpp>

#include "tapsmith/detail/mask.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <tuple>

namespace tapsmith {

namespace {

// Digits of v's non-adjacent form (v from 0 to 2^61).
std::int32_t weight(std::int64_t v) noexcept {
    const auto u = static_cast<std::uint64_t>(v);
    return std::popcount(((3U * u) ^ u) >> 1U);
}

// The largest value whose non-adjacent form has digits only at positions
// below top: 2^(top-1) + 2^(top-3) + ...
std::int64_t reach(std::int32_t top) noexcept {
    return top <= 0 ? 0 : (std::int64_t{1} << (top + 1)) / 3;
}

// Calls visit(base + v) for every v in [lo, hi] whose non-adjacent form has
// at most w digits, all at positions below top: each value once, as the
// form is unique. False as soon as visit returns false.
template <typename Visit>
bool each_value(std::int64_t lo, std::int64_t hi, std::int32_t w, std::int32_t top, std::int64_t base,
                Visit& visit) {
    if (lo > hi) {
        return true;
    }
    if (lo <= 0 && hi >= 0 && !visit(base)) {
        return false;
    }
    if (w == 0) {
        return true;
    }
    for (std::int32_t s = top - 1; s >= 0; --s) {
        const std::int64_t power = std::int64_t{1} << s;
        // The digits below s are at most at s - 2.
        const std::int64_t rest = reach(s - 1);
        for (const std::int64_t digit : {power, -power}) {
            if (digit + rest < lo || digit - rest > hi) {
                continue;
            }
            if (!each_value(lo - digit, hi - digit, w - 1, s - 1, base + digit, visit)) {
                return false;
            }
        }
    }
    return true;
}

// Positions up to 32 hold every tap up to 2^FIXED_BITS_MAX.
constexpr std::int32_t top_position = 33;

// The fewest digits of a value in [lo, hi], or -1 when there is none.
std::int32_t least_weight(std::int64_t lo, std::int64_t hi) {
    if (lo > hi) {
        return -1;
    }
    for (std::int32_t w = 0; w <= top_position; ++w) {
        bool any = false;
        auto stop = [&any](std::int64_t) {
            any = true;
            return false;
        };
        each_value(lo, hi, w, top_position, 0, stop);
        if (any) {
            return w;
        }
    }
    return -1;
}

struct candidate {
    std::int32_t cost = 0;
    double error = 0.0;
    std::int32_t bits = 0;
    fixed_taps taps{};
};

// Cheaper, then smaller error, then fewer bits.
bool better(const candidate& a, const candidate& b) noexcept {
    return std::tie(a.cost, a.error, a.bits) < std::tie(b.cost, b.error, b.bits);
}

constexpr std::size_t max_distinct = FIXED_MAX / 2 + 1;
constexpr std::int32_t exact_up_to = 9;

class searcher {
  public:
    searcher(std::int32_t n, std::int32_t pixel_bits, const fixed_samples& gf, const cheapest_search& search)
        : n_(n),
          m_(n / 2),
          bits_(search.max_bits),
          pixel_bits_(pixel_bits),
          max_error_(search.max_error),
          total_(std::int64_t{1} << search.max_bits),
          gf_(gf),
          // Up to 9 taps every setting finishes within a fraction of a
          // second (4,416 settings of size, sigma, pixel bits and bound
          // tried, none above 0.26 s): exact there, whatever the limit.
          node_limit_(n <= exact_up_to ? std::numeric_limits<std::int64_t>::max() : search.node_limit) {}

    // Sets the windows and the least cost of each tap; false when a window
    // holds no tap at all.
    bool prepare() {
        const double scale = std::ldexp(1.0, bits_);
        // sum_ij |...| < 2 (max_error - 0.5) / (2^P - 1), with room for rounding.
        const double bound = 2.0 * (max_error_ - 0.5) / (std::ldexp(1.0, pixel_bits_) - 1.0);
        l1_limit_ = bound * scale * (1.0 + 1e-9) + 1e-6;
        dev_limit_ = bound * (1.0 + 1e-9) + 1e-12;
        base_l1_limit_ = l1_limit_;
        base_dev_limit_ = dev_limit_;
        scale_ = scale;
        unit_ = 1.0 / scale;
        const auto m = static_cast<std::size_t>(m_);
        for (std::size_t k = 0; k <= m; ++k) {
            target_[k] = gf_[k] * scale;
            const double half = l1_limit_ / (k < m ? 4.0 : 2.0) + 2.0;
            // Clamped as doubles: a loose bound makes half far wider than any tap.
            const double least = k < m ? 0.0 : 1.0;
            const auto most = static_cast<double>(total_);
            lo_[k] =
                static_cast<std::int64_t>(std::fmin(std::fmax(std::ceil(target_[k] - half), least), most));
            hi_[k] =
                static_cast<std::int64_t>(std::fmax(std::fmin(std::floor(target_[k] + half), most), least));
            const std::int32_t w = least_weight(lo_[k], hi_[k]);
            if (w < 0) {
                return false;
            }
            const std::int32_t c = k < m ? (w == 0 ? 0 : w + 1) : w - 1;
            least_[k] = c;
        }
        least_[m + 1] = 0;
        for (std::size_t k = m + 1; k-- > 0;) {
            least_[k] += least_[k + 1];
        }
        lo_after_[m] = 0;
        hi_after_[m] = 0;
        for (std::size_t k = m; k-- > 0;) {
            lo_after_[k] = lo_after_[k + 1] + lo_[k];
            hi_after_[k] = hi_after_[k + 1] + hi_[k];
        }
        return true;
    }

    [[nodiscard]] std::int32_t least_cost() const noexcept { return least_[0]; }

    // Every kernel of at most budget adders; false when the node limit stopped it.
    bool run(std::int32_t budget) {
        budget_ = budget;
        taps_ = fixed_taps{};
        l1_limit_ = base_l1_limit_;
        dev_limit_ = base_dev_limit_;
        tighten();
        return descend(0, 0, 0, 0.0, 0);
    }

    void offer(const candidate& c) {
        if (!found_ || better(c, best_)) {
            best_ = c;
            found_ = true;
        }
    }
    [[nodiscard]] bool found() const noexcept { return found_; }
    [[nodiscard]] const candidate& best() const noexcept { return best_; }

  private:
    bool descend(std::size_t k, std::int64_t previous, std::int64_t sum, double l1, std::int32_t cost) {
        const auto m = static_cast<std::size_t>(m_);
        if (k == m) {
            leaf(previous, sum, l1, cost);
            return true;
        }
        const std::int32_t left = budget_ - cost - least_[k + 1];
        if (left < 0) {
            return true;
        }
        // The centre, 2^B - 2 (sum of the outer taps), must land in its
        // window and stay the largest tap, with every later outer tap at
        // least this one and within its own window.
        const std::int64_t room = total_ - 2 * sum;
        const auto later = static_cast<std::int64_t>(m - k);
        std::int64_t lo = std::max({lo_[k], previous, (room - hi_[m] + 1) / 2 - hi_after_[k + 1]});
        std::int64_t hi = std::min({hi_[k], (room - lo_[m]) / 2 - lo_after_[k + 1],
                                    (room - lo_[m]) / (2 * later), room / (2 * later + 1)});
        bool going = true;
        auto visit = [&](std::int64_t v) {
            if (++nodes_ > node_limit_) {
                going = false;
                return false;
            }
            const double deviation = l1 + std::fabs(static_cast<double>(v) - target_[k]);
            if (2.0 * deviation >= l1_limit_) {
                return true;
            }
            // The 2-D deviation among the taps chosen so far (each outer
            // tap stands for itself and its mirror), grown by this tap.
            const double a = static_cast<double>(v) * unit_;
            double block = block_[k];
            for (std::size_t j = 0; j < k; ++j) {
                block += 4.0 * std::fabs(a * chosen_[j] - gf_[k] * gf_[j]);
            }
            block += 4.0 * std::fabs(a * a - gf_[k] * gf_[k]);
            chosen_[k] = a;
            if (deviation_bound(k + 1, block) >= dev_limit_) {
                return true;
            }
            block_[k + 1] = block;
            taps_[k] = v;
            taps_[static_cast<std::size_t>(n_) - 1 - k] = v;
            if (!descend(k + 1, v, sum + v, deviation, cost + (v == 0 ? 0 : weight(v) + 1))) {
                going = false;
                return false;
            }
            return true;
        };
        each_value(lo, hi, std::max(left - 1, 0), top_position, 0, visit);
        return going;
    }

    // A lower bound on sum_ij |a_i a_j - GF_i GF_j| once the outer taps
    // 0 .. count-1 (and their mirrors, the set S) are chosen, from the block
    // of S x S (its sum given), the blocks S x rest and rest x S, where
    // the rest's a sum to 1 - A_S, and the rest x rest block as a whole.
    [[nodiscard]] double deviation_bound(std::size_t count, double block) const noexcept {
        double a_sum = 0.0;
        double g_sum = 0.0;
        for (std::size_t j = 0; j < count; ++j) {
            a_sum += 2.0 * chosen_[j];
            g_sum += 2.0 * gf_[j];
        }
        const double a_rest = 1.0 - a_sum;
        const double g_rest = 1.0 - g_sum;
        double cross = 0.0;
        for (std::size_t j = 0; j < count; ++j) {
            cross += 2.0 * std::fabs(chosen_[j] * a_rest - gf_[j] * g_rest);
        }
        return block + 2.0 * cross + std::fabs(a_rest * a_rest - g_rest * g_rest);
    }

    void leaf(std::int64_t previous, std::int64_t sum, double l1, std::int32_t cost) {
        const auto m = static_cast<std::size_t>(m_);
        const std::int64_t centre = total_ - 2 * sum;
        if (centre < previous || centre < lo_[m] || centre > hi_[m]) {
            return;
        }
        const std::int32_t total_cost = cost + weight(centre) - 1;
        if (total_cost > budget_ ||
            2.0 * l1 + std::fabs(static_cast<double>(centre) - target_[m]) >= l1_limit_) {
            return;
        }
        taps_[m] = centre;
        // The same kernel at the fewest bits.
        std::int32_t shift = bits_ - 1;
        for (std::size_t k = 0; k <= m; ++k) {
            if (taps_[k] != 0) {
                shift = std::min(
                    shift, static_cast<std::int32_t>(std::countr_zero(static_cast<std::uint64_t>(taps_[k]))));
            }
        }
        candidate c;
        c.cost = total_cost;
        c.bits = bits_ - shift;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n_); ++i) {
            c.taps[i] = taps_[i] >> shift;
        }
        c.error = detail::worst_error_2d(n_, c.bits, pixel_bits_, c.taps, gf_);
        if (c.error < max_error_) {
            offer(c);
            tighten();
        }
    }

    // Once a kernel within the budget is known, only one with a smaller
    // error can beat it (nothing cheaper exists: the smaller budgets came
    // first), or one as good at fewer bits: the bounds shrink to its
    // deviation, with room for rounding. A dearer first answer (the
    // closest taps) does not count: a cheaper kernel wins whatever its
    // error.
    void tighten() {
        if (!found_ || best_.cost > budget_) {
            return;
        }
        const double deviation = (best_.error - 0.5) * 2.0 / (std::ldexp(1.0, pixel_bits_) - 1.0);
        dev_limit_ = std::fmin(dev_limit_, deviation * (1.0 + 1e-9) + 1e-12);
        l1_limit_ = std::fmin(l1_limit_, deviation * scale_ * (1.0 + 1e-9) + 1e-6);
    }

    std::int32_t n_, m_, bits_, pixel_bits_;
    double max_error_;
    std::int64_t total_;
    const fixed_samples& gf_;
    std::int64_t node_limit_;
    std::int64_t nodes_ = 0;
    std::int32_t budget_ = 0;
    double l1_limit_ = 0.0;
    double base_l1_limit_ = 0.0;
    double base_dev_limit_ = 0.0;
    double scale_ = 0.0;                            // 2^B
    double dev_limit_ = 0.0;                        // on sum_ij |a_i a_j - GF_i GF_j|
    double unit_ = 0.0;                             // 2^-B
    std::array<double, max_distinct> chosen_{};     // a_k of the outer taps chosen
    std::array<double, max_distinct + 1> block_{};  // the S x S block's deviation, by depth
    std::array<double, max_distinct> target_{};
    std::array<std::int64_t, max_distinct> lo_{}, hi_{};
    std::array<std::int32_t, max_distinct + 1> least_{};
    std::array<std::int64_t, max_distinct + 1> lo_after_{}, hi_after_{};
    fixed_taps taps_{};
    bool found_ = false;
    candidate best_;
};

}  // namespace

status get_cheapest_taps(std::int32_t n, double sigma, std::int32_t pixel_bits, sampling how,
                         const cheapest_search& search, cheapest_taps& out) noexcept {
    out = cheapest_taps{};
    fixed_samples gf{};
    if (const status s = get_fixed_samples(n, sigma, how, gf); s != status::ok) {
        return s;
    }
    if (pixel_bits < 1 || pixel_bits > PIXEL_BITS_MAX || search.max_bits < 1 ||
        search.max_bits > FIXED_BITS_MAX) {
        return status::bad_bits;
    }
    // No kernel gets below the final rounding's half LSB.
    if (!(search.max_error > 0.5)) {
        out.proven = true;
        return status::none_fits;
    }
    searcher finder(n, pixel_bits, gf, search);
    // A first answer, and a ceiling for the search: the closest taps at every B.
    for (std::int32_t b = 1; b <= search.max_bits; ++b) {
        candidate c;
        if (get_fixed_taps(n, sigma, b, how, c.taps) != status::ok) {
            continue;
        }
        c.bits = b;
        c.error = detail::worst_error_2d(n, b, pixel_bits, c.taps, gf);
        c.cost = get_adder_plan(n, c.taps).per_pass;
        if (c.error < search.max_error) {
            finder.offer(c);
        }
    }
    bool proven = finder.prepare();
    if (proven) {
        // Cheapest budgets first: the first that holds a kernel holds the answer.
        const std::int32_t ceiling = finder.found() ? finder.best().cost : (FIXED_MAX / 2) * 34 + 33;
        for (std::int32_t budget = finder.least_cost(); budget <= ceiling; ++budget) {
            if (!finder.run(budget)) {
                proven = false;
                break;
            }
            if (finder.found() && finder.best().cost <= budget) {
                break;
            }
        }
    }
    out.proven = proven;
    if (!finder.found()) {
        return status::none_fits;
    }
    const candidate& best = finder.best();
    out.bits = best.bits;
    out.taps = best.taps;
    out.plan = get_adder_plan(n, best.taps);
    out.worst_error_2d = best.error;
    return status::ok;
}

}  // namespace tapsmith
