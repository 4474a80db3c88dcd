// SPDX-License-Identifier: MIT
//
// Co-simulation bench for tapsmith_blur, for Verilator and Icarus Verilog alike; tb_blur.vhd is
// the same bench in VHDL, cycle for cycle: the same stimulus, stalls and checks, so that the three
// simulators' output beats can be compared by the cycle they leave on. It replays a CASE.cfg /
// CASE.vec pair written from the C++ golden model:
//   +cfg=CASE.cfg    N SHIFT P BORDER MAX_WIDTH CHANNELS ALPHA PPC t0 .. t(N-1); must match the
//                    parameters compiled in
//   +vec=CASE.vec    records "stray K" and "frame W H K", each followed by its K input beats and,
//                    for a frame the core accepts (W and H not 0, W at most MAX_WIDTH and a
//                    multiple of PPC), its W*H/PPC expected output beats, a beat a line in hex: PPC
//                    pixels, pixel 0 in the low bits, each pixel's channels side by side, channel 0
//                    lowest
//   +seed=S          stall pattern (default 1)
//   +nostall         both sides always ready
//   +period=C        with +nostall: consecutive frames must start C cycles apart and the input may
//                    never wait (a stream of equal frames at full rate)
//   +latency=L       with +nostall: the first frame's first output beat must leave
//                    L + m*(W/PPC) + ceil(m/PPC) cycles after its first input beat was taken
// Both sides stall at random, in phases of different intensity. Every output beat is compared
// (data, tuser, tlast), an output beat must hold until taken, and a long stretch without any
// transfer while beats are owed is a hang. The last line is
//   PASS <pixels> pixels in <frames> frames, <cycles> cycles, timing <hash>
// the hash folding in the cycle of every output beat.

module tb_blur #(
  parameter int N = 5,
  parameter int SHIFT = 8,
  parameter logic [32*N-1:0] TAPS = {32'd14, 32'd62, 32'd104, 32'd62, 32'd14},
  parameter int P = 8,
  parameter int MAX_WIDTH = 1920,
  parameter int BORDER = 0,
  parameter int CHANNELS = 1,
  parameter int ALPHA = 0,
  parameter int PPC = 1
);
  localparam int M = (N - 1) / 2;
  localparam int G = (M + PPC - 1) / PPC;  // beats a beat's window reaches to either side
  localparam int CP = CHANNELS * P;
  localparam int BW = PPC * CP;  // a beat
  // Beats are read into this much, so that a few hex digits too many show as bits above BW.
  localparam int RW = BW + 64;
  localparam int NOISE_WORDS = (BW + 31) / 32;
  localparam int HANG = 4 * (MAX_WIDTH + 2 * M) * (M + 2) + 4000;
  localparam int MAX_BEATS = 1 << 18;

  logic clk = 1'b0;
  logic rst = 1'b1;
  logic [15:0] width = '0, height = '0;
  logic s_valid = 1'b0, s_user = 1'b0, s_last = 1'b0;
  logic [BW-1:0] s_data = '0;
  logic s_ready;
  logic m_valid, m_user, m_last;
  logic [BW-1:0] m_data;
  logic m_ready = 1'b0;

  tapsmith_blur #(
    .N(N), .SHIFT(SHIFT), .TAPS(TAPS), .P(P), .MAX_WIDTH(MAX_WIDTH), .BORDER(BORDER),
    .CHANNELS(CHANNELS), .ALPHA(ALPHA), .PPC(PPC)
  ) dut (
    .clk(clk), .rst(rst), .width(width), .height(height),
    .s_axis_tvalid(s_valid), .s_axis_tready(s_ready), .s_axis_tdata(s_data),
    .s_axis_tuser(s_user), .s_axis_tlast(s_last),
    .m_axis_tvalid(m_valid), .m_axis_tready(m_ready), .m_axis_tdata(m_data),
    .m_axis_tuser(m_user), .m_axis_tlast(m_last)
  );

  always #5 clk = !clk;

  // Input beats and expected output beats, read before the clock starts.
  logic [BW-1:0] in_data [0:MAX_BEATS-1];
  int in_w [0:MAX_BEATS-1];
  int in_h [0:MAX_BEATS-1];
  bit in_user [0:MAX_BEATS-1];
  bit in_last [0:MAX_BEATS-1];
  logic [BW-1:0] exp_data [0:MAX_BEATS-1];
  bit exp_user [0:MAX_BEATS-1];
  bit exp_last [0:MAX_BEATS-1];
  int n_in = 0, n_exp = 0, frames = 0;
  int period = 0, latency = 0;
  bit nostall = 1'b0;

  task automatic fail(input string msg);
    $display("FAIL %s", msg);
    $fatal(1, "tb_blur failed");
  endtask

  task automatic read_cfg(input string path);
    int fd, v, i, got;
    fd = $fopen(path, "r");
    if (fd == 0) fail({"cannot open ", path});
    for (i = 0; i < 8 + N; i++) begin
      got = $fscanf(fd, "%d", v);
      if (got != 1) fail($sformatf("%s: item %0d missing", path, i));
      if (i == 0 && v != N) fail($sformatf("%s: N is %0d, the bench has %0d", path, v, N));
      if (i == 1 && v != SHIFT) fail($sformatf("%s: SHIFT is %0d, the bench has %0d", path, v, SHIFT));
      if (i == 2 && v != P) fail($sformatf("%s: P is %0d, the bench has %0d", path, v, P));
      if (i == 3 && v != BORDER) fail($sformatf("%s: BORDER is %0d, the bench has %0d", path, v, BORDER));
      if (i == 4 && v != MAX_WIDTH) fail($sformatf("%s: MAX_WIDTH is %0d, the bench has %0d", path, v, MAX_WIDTH));
      if (i == 5 && v != CHANNELS) fail($sformatf("%s: CHANNELS is %0d, the bench has %0d", path, v, CHANNELS));
      if (i == 6 && v != ALPHA) fail($sformatf("%s: ALPHA is %0d, the bench has %0d", path, v, ALPHA));
      if (i == 7 && v != PPC) fail($sformatf("%s: PPC is %0d, the bench has %0d", path, v, PPC));
      if (i >= 8 && v != TAPS[32*(i-8) +: 32]) fail($sformatf("%s: tap %0d is %0d", path, i - 8, v));
    end
    $fclose(fd);
  endtask

  // A beat as read, every pixel: nothing may stand above its BW bits.
  task automatic check_beat(input int got, input logic [RW-1:0] v, input string path,
                            output logic [BW-1:0] b);
    if (got != 1) fail($sformatf("%s: a beat is missing", path));
    if ((v >> BW) != 0) fail($sformatf("%s: beat %0h wider than %0d bits", path, v, BW));
    b = BW'(v);
  endtask

  task automatic read_vec(input string path);
    int fd, w, h, k, i, got, frame_beats, wb;
    logic [RW-1:0] v;
    logic [8*8-1:0] word;
    bit open_short;
    open_short = 1'b0;
    fd = $fopen(path, "r");
    if (fd == 0) fail({"cannot open ", path});
    got = $fscanf(fd, "%s", word);
    while (got == 1) begin
      if (word == "stray") begin
        if (open_short) fail("stray beats right after a cut-short frame would be its beats");
        got = $fscanf(fd, "%d", k);
        for (i = 0; i < k; i++) begin
          if (n_in == MAX_BEATS) fail($sformatf("%s: more than %0d input beats", path, MAX_BEATS));
          got = $fscanf(fd, "%h", v);
          check_beat(got, v, path, in_data[n_in]);
          in_user[n_in] = 1'b0;
          in_last[n_in] = 1'b0;
          in_w[n_in] = -1;
          in_h[n_in] = -1;
          n_in = n_in + 1;
        end
      end else if (word == "frame") begin
        got = $fscanf(fd, "%d %d %d", w, h, k);
        if (got != 3 || w < 0 || w > 65535 || h < 0 || h > 65535 || k < 1) fail("bad frame record");
        wb = w / PPC;  // beats a row
        for (i = 0; i < k; i++) begin
          if (n_in == MAX_BEATS) fail($sformatf("%s: more than %0d input beats", path, MAX_BEATS));
          got = $fscanf(fd, "%h", v);
          check_beat(got, v, path, in_data[n_in]);
          in_user[n_in] = i == 0;
          in_last[n_in] = wb != 0 && i % wb == wb - 1;
          // The size only on the first beat: whatever is on the others must not matter.
          in_w[n_in] = (i == 0) ? w : -1;
          in_h[n_in] = (i == 0) ? h : -1;
          n_in = n_in + 1;
        end
        // A frame the core must refuse (zero size, too wide, a width not a multiple of PPC) has no
        // expected beats.
        frame_beats = (w == 0 || h == 0 || w > MAX_WIDTH || w % PPC != 0) ? 0 : wb * h;
        for (i = 0; i < frame_beats; i++) begin
          if (n_exp == MAX_BEATS) fail($sformatf("%s: more than %0d output beats", path, MAX_BEATS));
          got = $fscanf(fd, "%h", v);
          check_beat(got, v, path, exp_data[n_exp]);
          exp_user[n_exp] = i == 0;
          exp_last[n_exp] = i % wb == wb - 1;
          n_exp = n_exp + 1;
        end
        if (frame_beats != 0) frames = frames + 1;
        open_short = frame_beats != 0 && k < frame_beats;
      end else begin
        fail($sformatf("%s: unknown record '%s'", path, word));
      end
      got = $fscanf(fd, "%s", word);
    end
    $fclose(fd);
    if (open_short) fail("the last frame is cut short, but no start of frame follows to end it");
  endtask

  // xorshift32: the same stalls on every simulator and in the VHDL bench.
  logic [31:0] rng = 32'd1;
  function automatic logic [31:0] next_rand();
    rng = rng ^ (rng << 13);
    rng = rng ^ (rng >> 17);
    rng = rng ^ (rng << 5);
    return rng;
  endfunction

  // Probability (in 1/8) of a side being active, changed every 32 to 287 cycles.
  int in_prob = 8, out_prob = 8, phase_left = 0;
  int cycle = 0, idle = 0, in_idx = 0, out_idx = 0, drain = 0, idx = 0;
  int started = 0, last_start = 0, last_out = 0, waited = 0, first_in = 0;
  logic [31:0] timing = '0;
  /* verilator lint_off UNUSEDSIGNAL */  // a random word, of which each use takes a few bits
  logic [31:0] r = '0;
  /* verilator lint_on UNUSEDSIGNAL */
  bit was_stalled = 1'b0;
  logic [BW-1:0] stalled_data = '0;
  logic stalled_user = 1'b0, stalled_last = 1'b0;

  initial begin
    string cfg_path, vec_path;
    int seed;
    if (!$value$plusargs("cfg=%s", cfg_path)) fail("no +cfg=");
    if (!$value$plusargs("vec=%s", vec_path)) fail("no +vec=");
    if ($value$plusargs("seed=%d", seed)) rng = (seed == 0) ? 32'd1 : 32'(seed);
    if (!$value$plusargs("period=%d", period)) period = 0;
    if (!$value$plusargs("latency=%d", latency)) latency = 0;
    nostall = $test$plusargs("nostall");
    read_cfg(cfg_path);
    read_vec(vec_path);
  end

  always @(posedge clk) begin
    if (cycle == 4) rst <= 1'b0;
    if (!rst) begin
      if (idle > HANG && (in_idx < n_in || out_idx < n_exp))
        fail($sformatf("hang: %0d of %0d input beats taken, %0d of %0d output beats seen",
                       in_idx, n_in, out_idx, n_exp));
      idle = idle + 1;
      if (s_valid && !s_ready && in_idx > 0) waited = waited + 1;
      if (s_valid && s_ready) begin
        idle = 0;
        if (in_idx == 0) first_in = cycle;
        in_idx = in_idx + 1;
      end
      if (was_stalled && (!m_valid || m_data != stalled_data || m_user != stalled_user ||
                          m_last != stalled_last))
        fail($sformatf("beat %0d: output changed or withdrawn before it was taken", out_idx));
      was_stalled = m_valid && !m_ready;
      stalled_data = m_data;
      stalled_user = m_user;
      stalled_last = m_last;
      if (m_valid && m_ready) begin
        idle = 0;
        if (out_idx >= n_exp) fail($sformatf("extra output beat %0h after all %0d expected", m_data, n_exp));
        if (m_data != exp_data[out_idx] || m_user != exp_user[out_idx] || m_last != exp_last[out_idx])
          fail($sformatf("beat %0d: got data %0h user %0b last %0b, want %0h %0b %0b", out_idx, m_data,
                         m_user, m_last, exp_data[out_idx], exp_user[out_idx], exp_last[out_idx]));
        if (out_idx == 0 && latency != 0 && cycle - first_in != latency + M * (in_w[0] / PPC) + G)
          fail($sformatf("the first beat left %0d cycles after the first input, not %0d + %0d",
                         cycle - first_in, latency, M * (in_w[0] / PPC) + G));
        timing = timing * 32'd31 + 32'(cycle);
        last_out = cycle;
        if (exp_user[out_idx]) begin
          if (period != 0 && started != 0 && cycle - last_start != period)
            fail($sformatf("frame %0d started %0d cycles after the last one, not %0d", started,
                           cycle - last_start, period));
          started = started + 1;
          last_start = cycle;
        end
        out_idx = out_idx + 1;
      end

      if (phase_left == 0) begin
        r = next_rand();
        phase_left = 32 + int'(r[7:0]);
        if (!nostall) begin
          r = next_rand();
          in_prob = int'(r[1:0]) * 2 + 2;
          r = next_rand();
          out_prob = int'(r[1:0]) * 2 + 2;
        end
      end else begin
        phase_left = phase_left - 1;
      end

      // Input: a beat once offered stays until taken.
      if (!(s_valid && !s_ready)) begin
        idx = in_idx;
        if (idx < n_in) r = next_rand();
        if (idx < n_in && int'(r[2:0]) < in_prob) begin
          s_valid <= 1'b1;
          s_data <= in_data[idx];
          s_user <= in_user[idx];
          s_last <= in_last[idx];
          if (in_w[idx] < 0) begin
            r = next_rand();
            width <= r[15:0];
            r = next_rand();
            height <= r[15:0];
          end else begin
            width <= 16'(in_w[idx]);
            height <= 16'(in_h[idx]);
          end
        end else begin
          // Nothing offered: noise on the lines, which the core must not pick up; the random word
          // repeated across the beat.
          s_valid <= 1'b0;
          r = next_rand();
          s_data <= BW'({NOISE_WORDS{r}});
          r = next_rand();
          s_user <= r[0];
          r = next_rand();
          s_last <= r[0];
          r = next_rand();
          width <= r[15:0];
          r = next_rand();
          height <= r[15:0];
        end
      end
      r = next_rand();
      m_ready <= int'(r[2:0]) < out_prob;

      // After the last expected beat, wait a while on a ready output for anything extra.
      if (in_idx == n_in && out_idx == n_exp) begin
        drain = drain + 1;
        m_ready <= 1'b1;
        if (drain == 8 * (MAX_WIDTH + 2 * M) + 200) begin
          if (period != 0 && waited != 0) fail($sformatf("the input waited %0d cycles", waited));
          $display("PASS %0d pixels in %0d frames, %0d cycles, timing %08h", n_exp * PPC, frames,
                   last_out, timing);
          $finish;
        end
      end
    end
    cycle = cycle + 1;
  end
endmodule
