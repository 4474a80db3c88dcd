/* SPDX-License-Identifier: MIT */
/* The same report as `tapsmith N SIGMA`, written the plain way: one printf
 * per entry, log2 and pow for the power-of-two rounding. It is the yardstick
 * bench/instructions.sh measures tapsmith against, and its output must be
 * tapsmith's, byte for byte. Only for tap counts 1..9 and finite results. */
#include <inttypes.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define DIM_MAX 9

static double gf[DIM_MAX], GF[DIM_MAX];
static int64_t GI[DIM_MAX], mask[DIM_MAX][DIM_MAX], mask2[DIM_MAX][DIM_MAX];

static double gaussian_sampling(int n, int i, double sigma) {
    int d = i - (n - 1) / 2;
    return exp(-pow((double)d, 2.0) / ((sigma + sigma) * sigma));
}

static int64_t round_to_pow2(double x) {
    int64_t v = (int64_t)round(x);
    if (v <= 0) return 0;
    int64_t p = (int64_t)log2((double)v);
    double lower = pow(2.0, (double)p), upper = pow(2.0, (double)(p + 1));
    return (int64_t)(fabs(lower - (double)v) < fabs(upper - (double)v) ? lower : upper);
}

static void print_fit(const char* label, int64_t factor) {
    int64_t rounded = round_to_pow2((double)factor);
    printf("%s = %" PRId64 " - rounded %" PRId64 " - rel_error = %lf\n", label, factor, rounded,
           (double)(factor - rounded) / (double)factor);
}

int main(int argc, char** argv) {
    int n = argc > 1 ? atoi(argv[1]) : 5;
    double sigma = argc > 2 ? strtod(argv[2], NULL) : 1.0;
    if (n > DIM_MAX) n = DIM_MAX;
    printf("Program launched with\n  n=%d\n  sigma=%lf\n\n", n, sigma);
    puts("Calculate integer approximated coefficients for gaussian filter.");
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        gf[i] = gaussian_sampling(n, i, sigma);
        printf("gf[%i]=%f\n", i, gf[i]);
        sum = gf[i] + sum;
    }
    puts("Get coefficients as calculated with default OpenCV functions:");
    double inv = 1.0 / sum;
    for (int i = 0; i < n; ++i) {
        GF[i] = gf[i] * inv;
        printf("-d: GF[%d]=%lf\n", i, GF[i]);
    }
    puts("Get integer approximated coefficients:");
    double scale = 1.0 / gf[0];
    int64_t factor = 0;
    for (int i = 0; i < n; ++i) {
        GI[i] = (int64_t)round(gf[i] * scale);
        printf("-d: GI[%d]=%" PRId64 "\n", i, GI[i]);
        factor += GI[i];
    }
    printf("Normalization factor (1D) = %" PRId64 "\n", factor);

    puts("\nGaussian filter mask:");
    int64_t factor2d = 0, factor2 = 0, sse = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            mask[i][j] = GI[j] * GI[i];
            factor2d += mask[i][j];
            printf("%4" PRId64 " ", mask[i][j]);
        }
        printf("\n");
    }
    print_fit("Normalization factor (2D)", factor2d);
    puts("\nRounded to pow-of-2 Gaussian filter mask:");
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            mask2[i][j] = round_to_pow2((double)mask[i][j]);
            factor2 += mask2[i][j];
            printf("%4" PRId64 " ", mask2[i][j]);
        }
        printf("\n");
    }
    print_fit("Appr normalization factor (2D)", factor2);
    puts("\n\n----------------------------------------------------\n");
    puts("\nErrors (mask - pow2_mask)");
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            printf("%4" PRId64 " ", mask[i][j] - mask2[i][j]);
            sse += llabs(mask[i][j] - mask2[i][j]);
        }
        printf("\n");
    }
    printf("\n");
    printf("\nSSE(mask, mask2)=%" PRId64 "\n", sse);

    puts("Test:");
    int64_t* matrix = calloc((size_t)(n > 0 ? n * n : 1), sizeof *matrix);
    if (matrix == NULL) return 1;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            matrix[i * n + j] = round_to_pow2((double)(GI[j] * GI[i]));
            printf("%6" PRId64 " ", matrix[i * n + j]);
        }
        printf("\n");
    }
    printf("\n");
    free(matrix);
    return 0;
}
