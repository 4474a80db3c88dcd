// SPDX-License-Identifier: MIT
// Linked with -Wl,--wrap=calloc, so the builders' allocation can be made to
// fail on demand.
#include <tapsmith/kernel.hpp>

#include <gtest/gtest.h>

#include <cstddef>

namespace {
bool fail_calloc = false;
}  // namespace

// The linker fixes these names.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
extern "C" void* __real_calloc(std::size_t count, std::size_t size);
extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
    return fail_calloc ? nullptr : __real_calloc(count, size);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)

namespace {

TEST(Builders, DeliverNothingWhenMemoryRunsOut) {
    using builder = void (*)(std::int32_t, double, tapsmith::coeff_matrix&, std::int64_t&) noexcept;
    for (const builder build :
         {builder{tapsmith::get_custom_coeff_matrix}, builder{tapsmith::get_custom_pow2_coeff_matrix}}) {
        tapsmith::coeff_matrix matrix;
        std::int64_t factor = 0;
        build(5, 1.0, matrix, factor);
        ASSERT_TRUE(matrix);

        fail_calloc = true;
        factor = 42;
        build(5, 1.0, matrix, factor);
        fail_calloc = false;
        EXPECT_FALSE(matrix);
        EXPECT_EQ(factor, 0);
    }
}

}  // namespace
