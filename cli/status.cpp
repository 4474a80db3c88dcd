// SPDX-License-Identifier: MIT
#include "tapsmith/cli/status.hpp"

#include <cstring>

namespace tapsmith::cli {

int fail(std::string_view program, std::string_view message) noexcept {
    output err(2);
    print(err, "{}: {}\n", {program, message});
    return exit_failure;
}

int finish(output& out, std::string_view program) noexcept {
    const int error = out.flush();
    if (error != 0) {
        output err(2);
        print(err, "{}: write error: {}\n", {program, std::strerror(error)});
        return exit_failure;
    }
    return exit_ok;
}

}  // namespace tapsmith::cli
