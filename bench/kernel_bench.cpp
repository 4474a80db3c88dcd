// SPDX-License-Identifier: MIT
// Per-call cost of every kernel function and both builders, at the default
// and the widest tap count. The whole-process count lives in
// instructions.sh.
#include <tapsmith/fixed.hpp>
#include <tapsmith/kernel.hpp>

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

using namespace tapsmith;

samples_table samples_for(std::int32_t n) {
    samples_table s{};
    for (std::int32_t i = 0; i < n; ++i) {
        s[static_cast<std::size_t>(i)] = gaussian_sampling(n, i, 1.0);
    }
    return s;
}

mask_table mask_for(std::int32_t n) {
    int_table ints{};
    get_int_coeffs(n, samples_for(n), ints);
    mask_table m{};
    for (std::size_t i = 0; i < DIM_MAX; ++i) {
        for (std::size_t j = 0; j < DIM_MAX; ++j) {
            m[i][j] = ints[i] * ints[j];
        }
    }
    return m;
}

void gaussian_sampling_row(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    double sigma = 1.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sigma);
        for (std::int32_t i = 0; i < n; ++i) {
            benchmark::DoNotOptimize(gaussian_sampling(n, i, sigma));
        }
    }
}

template <typename Table, void (*fn)(std::int32_t, const samples_table&, Table&) noexcept>
void coeffs(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    const samples_table in = samples_for(n);
    Table out{};
    for (auto _ : state) {
        fn(n, in, out);
        benchmark::DoNotOptimize(out);
    }
}

// One call per entry of an n x n mask, as the report makes.
void round_to_pow2_mask(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    const mask_table m = mask_for(n);
    for (auto _ : state) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
            for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
                benchmark::DoNotOptimize(round_to_pow2(static_cast<double>(m[i][j])));
            }
        }
    }
}

void sse(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    const mask_table a = mask_for(n);
    const mask_table b{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(SSE(n, a, b));
    }
}

using builder = void (*)(std::int32_t, double, coeff_matrix&, std::int64_t&) noexcept;

void matrix_builder(benchmark::State& state, builder build) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    coeff_matrix m;
    std::int64_t factor = 0;
    for (auto _ : state) {
        build(n, 1.0, m, factor);
        benchmark::DoNotOptimize(factor);
    }
}

// The bounded search for taps that sum to 2^B, at the default 8 bits.
void fixed_coeffs(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    int_table taps{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_fixed_coeffs(n, 1.0, 8, taps));
        benchmark::DoNotOptimize(taps);
    }
}

}  // namespace

BENCHMARK(gaussian_sampling_row)->Arg(5)->Arg(9);
BENCHMARK_TEMPLATE2(coeffs, samples_table, get_float_coeffs)->Arg(5)->Arg(9);
BENCHMARK_TEMPLATE2(coeffs, int_table, get_int_coeffs)->Arg(5)->Arg(9);
BENCHMARK(round_to_pow2_mask)->Arg(5)->Arg(9);
BENCHMARK(sse)->Arg(5)->Arg(9);
BENCHMARK_CAPTURE(matrix_builder, get_custom_coeff_matrix, get_custom_coeff_matrix)->Arg(5)->Arg(9);
BENCHMARK_CAPTURE(matrix_builder, get_custom_pow2_coeff_matrix, get_custom_pow2_coeff_matrix)->Arg(5)->Arg(9);
BENCHMARK(fixed_coeffs)->Arg(5)->Arg(9);

namespace {

// The exact fit of taps that sum to 2^30, at a wide sigma (no tap is 0).
void fixed_taps_30(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    tapsmith::fixed_taps taps{};
    double sigma = static_cast<double>(n) / 6.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sigma);
        benchmark::DoNotOptimize(tapsmith::get_fixed_taps(n, sigma, 30, tapsmith::sampling::point, taps));
        benchmark::DoNotOptimize(taps);
    }
}

}  // namespace

BENCHMARK(fixed_taps_30)->Name("FixedTaps30")->Arg(9)->Arg(31)->Arg(127);
