// SPDX-License-Identifier: MIT
// Which of the instruction sets that loops are built for (through
// Highway's foreach_target) this processor runs, each with every feature
// Highway's build of it may use.
#pragma once

// Included before Highway's headers: the x86 targets are AVX-512 (Skylake
// server and later), AVX2 (Haswell, Zen) and SSE4, beside the baseline;
// SSSE3 alone adds little over SSE2. On arm64, SVE2 and SVE beside NEON,
// the baseline, each for any vector length (the builds for one length
// alone add nothing the others lack). Other architectures build their
// baseline alone.
#if TAPSMITH_HAVE_HWY
#if defined(__aarch64__) && defined(__linux__)
#define HWY_DISABLED_TARGETS (HWY_SVE_256 | HWY_SVE2_128)
#else
#define HWY_DISABLED_TARGETS HWY_SSSE3
#endif
#if !defined(__x86_64__) && !defined(__i386__) && !(defined(__aarch64__) && defined(__linux__))
#define HWY_COMPILE_ONLY_STATIC 1
#endif
#endif

#if defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#endif

namespace tapsmith::detail {

struct x86_sets {
    bool sse4 = false;
    bool avx2 = false;
    bool avx512 = false;
};

struct arm_sets {
    bool sve = false;
    bool sve2 = false;
};

// What the kernel says the processor has (Linux on arm64; elsewhere none).
inline arm_sets runnable_arm_sets() noexcept {
    arm_sets sets;
#if defined(__aarch64__) && defined(__linux__) && defined(HWCAP_SVE) && defined(HWCAP2_SVE2)
    sets.sve = (getauxval(AT_HWCAP) & HWCAP_SVE) != 0;
    sets.sve2 = sets.sve && (getauxval(AT_HWCAP2) & HWCAP2_SVE2) != 0;
#endif
    return sets;
}

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
