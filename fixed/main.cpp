// SPDX-License-Identifier: MIT
#include "run.hpp"

int main(int argc, char** argv) {
    return tapsmith::run_fixed(argc, argv);
}
