// SPDX-License-Identifier: MIT
// Arbitrary argument vectors through tapsmith-fixed's parser and, when they
// parse, through the whole program: the input's bytes, split at NUL, become
// argv. Output goes to /dev/null (only runs that parse are run, and they
// write nothing on standard error, which stays the fuzzer's); runs that
// would read or write files (--apply, --output, --vectors) are only parsed.
#include "options.hpp"
#include "run.hpp"

#include "argv.hpp"

#include <tapsmith/fixed.hpp>

#include <fcntl.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer's entry point
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    send_stdout_to_null();
    return 0;
}

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer's entry point
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_argv command_line("tapsmith-fixed", data, size);
    const int argc = command_line.argc();
    char** argv = command_line.argv();

    const tapsmith::parsed_command command = tapsmith::parse_command(argc, argv);
    using action = tapsmith::parsed_command::action;
    require(command.what != action::usage_error || !command.message.empty());
    if (command.what != action::run) {
        return 0;
    }
    const tapsmith::fixed_options& o = command.options;
    if (o.apply != nullptr || o.output != nullptr || o.vectors != nullptr) {
        return 0;
    }
    const tapsmith::fixed_settings& s = o.settings;
    require(s.n >= 1 && s.n <= tapsmith::FIXED_MAX && s.n % 2 == 1 && s.bits >= 1 &&
            s.bits <= tapsmith::FIXED_BITS_MAX && !s.n_auto && !s.bits_auto);
    tapsmith::fixed_taps taps{};
    require(tapsmith::get_fixed_taps(s.n, s.sigma, s.bits, s.how, taps) == tapsmith::status::ok);
    std::int64_t sum = 0;
    for (std::int32_t i = 0; i < s.n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        require(taps[k] >= 0 && taps[k] == taps[static_cast<std::size_t>(s.n - 1 - i)]);
        require(2 * i + 1 >= s.n || taps[k] <= taps[k + 1]);
        sum += taps[k];
    }
    require(sum == std::int64_t{1} << s.bits);
    // The parser rewinds getopt itself, so the program parses afresh. A
    // bound that no taps meet is the one refusal left for after the parse.
    const int status = tapsmith::run_fixed(argc, argv);
    require(status == 0 || (s.minimize_adders && status == 2));
    return 0;
}
