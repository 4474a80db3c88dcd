// SPDX-License-Identifier: MIT
#include "settings.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tapsmith {

namespace {

std::string number_text(double value) {
    char text[32];
    const std::to_chars_result r = std::to_chars(std::begin(text), std::end(text), value);
    return {text, r.ptr};
}

std::string number_text(std::int64_t value) {
    char text[24];
    const std::to_chars_result r = std::to_chars(std::begin(text), std::end(text), value);
    return {text, r.ptr};
}

}  // namespace

std::string quoted(std::string_view what, std::string_view text) {
    std::string message(what);
    message += " '";
    message += text;
    message += "'";
    return message;
}

std::string no_cheapest_taps(const fixed_settings& s) {
    return "--minimize=adders: no taps with B from 1 to " + number_text(std::int64_t{s.bits}) +
           " keep the worst-case 2-D error below " + number_text(s.max_error) + " LSB for pixel bits " +
           number_text(std::int64_t{s.pixel_bits});
}

std::string_view sampling_name(sampling how) noexcept {
    return how == sampling::area ? "area" : "point";
}

std::string check_settings(fixed_settings& s, const setting_texts& shown) {
    const std::string n_text = shown.n ? std::string(*shown.n) : number_text(std::int64_t{s.n});
    const std::string sigma_text = shown.sigma ? std::string(*shown.sigma) : number_text(s.sigma);
    if (!s.n_auto && (s.n < 1 || s.n > FIXED_MAX || s.n % 2 == 0)) {
        return quoted("invalid DIM_MASK (an odd number from 1 to 127, or auto):", n_text);
    }
    if (!std::isfinite(s.sigma) || !(s.sigma > 0.0)) {
        return quoted("invalid SIGMA (a finite number above 0):", sigma_text);
    }
    if (s.pixel_bits < 1 || s.pixel_bits > PIXEL_BITS_MAX) {
        return quoted(bad_pixel_bits, number_text(std::int64_t{s.pixel_bits}));
    }
    if (s.minimize_adders && !(s.max_error > 0.5 && std::isfinite(s.max_error))) {
        return quoted(bad_max_error, number_text(s.max_error));
    }
    if (!s.bits_auto && (s.bits < 1 || s.bits > FIXED_BITS_MAX)) {
        return quoted(bad_bits, number_text(std::int64_t{s.bits}));
    }
    if (s.n_auto) {
        if (auto_dim_mask(s.sigma, s.pixel_bits, s.n) != status::ok) {
            return quoted("DIM_MASK auto needs more than 127 taps for this SIGMA:", sigma_text);
        }
    }
    // 2 sigma^2 underflowing to 0 makes the centre sample 0/0.
    fixed_samples gf{};
    if (get_fixed_samples(s.n, s.sigma, s.how, gf) != status::ok) {
        // Huge sigmas leave area samples as the rounding noise of erfc.
        return quoted(s.sigma > 1.0 ? "SIGMA too large for area sampling:" : "SIGMA too small for a filter:",
                      sigma_text);
    }
    if (s.bits_auto && s.minimize_adders) {
        s.bits = FIXED_BITS_MAX;  // the search covers every B below its ceiling
    } else if (s.bits_auto) {
        if (auto_bits(s.n, s.sigma, s.pixel_bits, s.how, s.bits) != status::ok) {
            return quoted(
                "--bits=auto: no B from 1 to 30 keeps the worst-case 2-D error below 1 LSB for pixel bits:",
                number_text(std::int64_t{s.pixel_bits}));
        }
    }
    s.n_auto = false;
    s.bits_auto = false;
    return {};
}

}  // namespace tapsmith
