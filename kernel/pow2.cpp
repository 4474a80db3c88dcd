#include <tapsmith/kernel.hpp>

#include <cmath>

namespace tapsmith {

std::int64_t round_to_pow2(double x) noexcept {
    const std::int64_t v = saturate_to_int64(std::round(x));
    // log2 of 0 or of a negative number has no power to offer.
    if (v <= 0) {
        return 0;
    }
    const auto value = static_cast<double>(v);
    const std::int64_t p = saturate_to_int64(std::log2(value));
    const double lower = std::pow(2.0, static_cast<double>(p));
    const double upper = std::pow(2.0, static_cast<double>(p + 1));
    // Distances between integers below 2^53 are exact in a double, so this
    // compares them exactly, where a 32-bit distance would wrap above 2^31.
    // A tie (3, 6, 12, ...) goes to the larger power.
    const double to_lower = std::fabs(lower - value);
    const double to_upper = std::fabs(upper - value);
    return saturate_to_int64(to_lower < to_upper ? lower : upper);
}

std::int64_t SSE(std::int32_t n, const mask_table& a, const mask_table& b) noexcept {
    const std::size_t taps = table_reach(n);
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < taps; ++i) {
        for (std::size_t j = 0; j < taps; ++j) {
            sum = sat_add(sum, sat_abs(sat_sub(a[i][j], b[i][j])));
        }
    }
    return sum;
}

}  // namespace tapsmith
