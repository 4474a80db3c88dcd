// SPDX-License-Identifier: MIT
// The instruction sets blur's row loops were built for that this processor
// runs, best first, the baseline last; blur itself takes the first. Each
// gives the same bits, which the tests check by running them all.
#pragma once

#include <tapsmith/fixed.hpp>

#include <cstddef>
#include <cstdint>

namespace tapsmith::detail {

[[nodiscard]] std::size_t blur_target_count() noexcept;
// Null past the last.
[[nodiscard]] const char* blur_target_name(std::size_t i) noexcept;
// blur on target i; bad_count past the last.
[[nodiscard]] status blur_on_target(std::size_t i, const std::uint8_t* in, std::uint8_t* out,
                                    const image_size& size, const blur_options& options) noexcept;
[[nodiscard]] status blur_on_target(std::size_t i, const std::uint16_t* in, std::uint16_t* out,
                                    const image_size& size, const blur_options& options) noexcept;

}  // namespace tapsmith::detail
