/* SPDX-License-Identifier: MIT */
/* Prints the taps of the generated header (included as taps.h) on one line,
 * after checking that they and the mask sum to the powers of two they claim. */
#include <stdio.h>

#include "taps.h"

int main(void) {
    int64_t sum = 0;
    int64_t mask_sum = 0;
    int i;
    int j;
    for (i = 0; i < gauss_N; ++i) {
        sum += gauss_taps[i];
        for (j = 0; j < gauss_N; ++j) {
            mask_sum += gauss_mask[i][j];
        }
        printf(i + 1 < gauss_N ? "%ld " : "%ld\n", (long)gauss_taps[i]);
    }
    return sum == (INT64_C(1) << gauss_SHIFT) && mask_sum == (INT64_C(1) << gauss_MASK_SHIFT) ? 0 : 1;
}
