// SPDX-License-Identifier: MIT
#include "fixed.hpp"

int main(int argc, char** argv) {
    return tapsmith::run_fixed(argc, argv);
}
