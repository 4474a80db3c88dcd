// SPDX-License-Identifier: MIT
#include "report.hpp"

int main(int argc, char** argv) {
    return tapsmith::run_report(argc, argv);
}
