// SPDX-License-Identifier: MIT
// Arbitrary argument vectors through the code main runs: the input's bytes,
// split at NUL, become argv. The report goes to /dev/null.
#include "args.hpp"
#include "report.hpp"

#include "argv.hpp"

#include <tapsmith/kernel.hpp>

#include <fcntl.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer's entry point
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    send_stdout_to_null();
    return 0;
}

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer's entry point
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_argv command_line("tapsmith", data, size);
    const int argc = command_line.argc();
    const char* const* argv = command_line.argv();

    const tapsmith::run_args args = tapsmith::parse_args(argc, argv);
    if (args.n > tapsmith::DIM_MAX || (args.help_only && !args.help)) {
        std::abort();
    }
    if (tapsmith::run_report(argc, argv) != 0) {
        std::abort();
    }
    return 0;
}
