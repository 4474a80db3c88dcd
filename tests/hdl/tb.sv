// SPDX-License-Identifier: MIT
// Prints TAPS on one line and fails unless TAPS sums to 2**SHIFT and MASK
// to 2**(2*SHIFT): every constant of the package is used.
module tb;
  import gauss_pkg::*;
  longint sum = 0;
  longint mask_sum = 0;
  initial begin
    for (int i = 0; i < N; i++) begin
      sum += longint'(TAPS[i]);
      for (int j = 0; j < N; j++) mask_sum += MASK[i][j];
      if (i + 1 < N) $write("%0d ", TAPS[i]);
      else $write("%0d\n", TAPS[i]);
    end
    if (sum != (64'sd1 << SHIFT) || mask_sum != (64'sd1 << (2 * SHIFT))) $fatal(1, "sums differ");
    $finish;
  end
endmodule
