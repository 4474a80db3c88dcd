// SPDX-License-Identifier: MIT
// Prints TAPS on one line, the package's adder plan (PRE_ADDS DIGIT_ADDERS
// TREE_ADDERS ADDERS_PER_PASS) on a second and the one the core works out
// for itself when it elaborates on a third, and fails unless TAPS sums to
// 2**SHIFT, MASK to 2**(2*SHIFT) and TAPS_PACKED holds TAPS: every constant
// of the package is used. The package also plugs into the filter core as
// its parameters.
module tb;
  import gauss_pkg::*;
  longint sum = 0;
  longint mask_sum = 0;
  // The widest pixels the core takes with these taps: P + 2 SHIFT <= 64.
  localparam int PB = 2 * SHIFT + 8 > 64 ? 64 - 2 * SHIFT : 8;
  logic clk = 0, rst = 1, s_ready, m_valid, m_user, m_last;
  logic [PB-1:0] m_data;
  tapsmith_blur #(.N(N), .SHIFT(SHIFT), .TAPS(TAPS_PACKED), .P(PB), .MAX_WIDTH(16)) core (
      .clk(clk), .rst(rst), .width(16'd4), .height(16'd4),
      .s_axis_tvalid(1'b0), .s_axis_tready(s_ready), .s_axis_tdata('0), .s_axis_tuser(1'b0), .s_axis_tlast(1'b0),
      .m_axis_tvalid(m_valid), .m_axis_tready(1'b1), .m_axis_tdata(m_data), .m_axis_tuser(m_user),
      .m_axis_tlast(m_last));
  initial begin
    for (int i = 0; i < N; i++) begin
      sum += longint'(TAPS[i]);
      if (TAPS_PACKED[32*i+:32] != 32'(TAPS[i])) $fatal(1, "TAPS_PACKED differs at %0d", i);
      for (int j = 0; j < N; j++) mask_sum += MASK[i][j];
      if (i + 1 < N) $write("%0d ", TAPS[i]);
      else $write("%0d\n", TAPS[i]);
    end
    $display("%0d %0d %0d %0d", PRE_ADDS, DIGIT_ADDERS, TREE_ADDERS, ADDERS_PER_PASS);
    $display("%0d %0d %0d %0d", core.PRE_ADDS, core.DIGIT_ADDERS, core.TREE_ADDERS, core.ADDERS_PER_PASS);
    if (sum != (64'sd1 << SHIFT) || mask_sum != (64'sd1 << (2 * SHIFT))) $fatal(1, "sums differ");
    $finish;
  end
endmodule
