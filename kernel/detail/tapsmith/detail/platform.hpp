// SPDX-License-Identifier: MIT
// What the kernel's printed digits depend on, checked where it is built:
// doubles are IEEE 754 binary64 and every intermediate is rounded to one (no
// x87 excess precision), and int64_t is the 64-bit two's-complement type.
// The kernel target carries the flags that make this hold (-ffp-contract=off,
// and SSE2 on 32-bit x86).
#pragma once

#include <cfloat>
#include <cstdint>
#include <limits>

static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<double>::digits == 53,
              "tapsmith's arithmetic is defined on IEEE 754 binary64 doubles");
static_assert(FLT_EVAL_METHOD == 0, "intermediates must be plain doubles (on i386 build with SSE2)");
static_assert(std::numeric_limits<std::int64_t>::digits == 63 &&
                  std::numeric_limits<std::int64_t>::min() == -std::numeric_limits<std::int64_t>::max() - 1,
              "coefficients are 64-bit two's-complement integers");
