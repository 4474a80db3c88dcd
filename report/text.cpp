// SPDX-License-Identifier: MIT
// The report as a value, apart from the program's own code: a string pulls
// in the C++ runtime's exception support, which the program does without.
#include "args.hpp"
#include "report.hpp"

#include "tapsmith/cli/output.hpp"

namespace tapsmith {

std::string report_text(std::int64_t dim_mask, double sigma) {
    run_args args;
    args.n = cap_dim_mask(dim_mask);
    args.sigma = sigma;
    std::string text;
    {
        cli::output out(text);
        write_report(out, args);
    }
    return text;
}

}  // namespace tapsmith
