// SPDX-License-Identifier: MIT
// Which of the x86 instruction sets that loops are built for (through
// Highway's foreach_target) this processor runs, each with every feature
// Highway's build of it may use. Elsewhere: none, the baseline alone.
#pragma once

// Included before Highway's headers: the x86 targets are AVX-512 (Skylake
// server and later), AVX2 (Haswell, Zen) and SSE4, beside the baseline;
// SSSE3 alone adds little over SSE2. Other architectures build their
// baseline alone (NEON on arm64).
#if TAPSMITH_HAVE_HWY
#define HWY_DISABLED_TARGETS HWY_SSSE3
#if !defined(__x86_64__) && !defined(__i386__)
#define HWY_COMPILE_ONLY_STATIC 1
#endif
#endif

namespace tapsmith::detail {

struct x86_sets {
    bool sse4 = false;
    bool avx2 = false;
    bool avx512 = false;
};

inline x86_sets runnable_x86_sets() noexcept {
    x86_sets sets;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    sets.sse4 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") &&
                __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("pclmul") &&
                __builtin_cpu_supports("aes");
    sets.avx2 = sets.sse4 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma");
    sets.avx512 = sets.avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                  __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
#endif
    return sets;
}

}  // namespace tapsmith::detail
