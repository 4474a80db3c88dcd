// SPDX-License-Identifier: MIT
//
// Co-simulation bench for tapsmith_blur (verilator --binary). It replays a CASE.cfg / CASE.vec pair
// written from the C++ golden model:
//   +cfg=CASE.cfg    N SHIFT P BORDER MAX_WIDTH t0 .. t(N-1); must match the parameters compiled in
//   +vec=CASE.vec    records "stray K" and "frame W H K" followed by their pixels in hex
//   +seed=S          stall pattern (default 1)
//   +nostall         both sides always ready, to measure cycles per frame
// Both sides stall at random, in phases of different intensity so that runs at full rate and long
// waits are both covered. Every output beat is compared (data, tuser, tlast), the AXI rule that
// m_axis_tvalid and data hold until taken is checked, and a stretch without any transfer on either
// side while beats are still owed counts as a hang.

module tb_blur #(
  parameter int N = 5,
  parameter int SHIFT = 8,
  parameter logic [32*N-1:0] TAPS = {32'd14, 32'd62, 32'd104, 32'd62, 32'd14},
  parameter int P = 8,
  parameter int MAX_WIDTH = 1920,
  parameter int BORDER = 0
);
  localparam int M = (N - 1) / 2;
  // Long enough for a frame's set-up and a line of padding with heavy stalls on both sides, short
  // enough to report a hang quickly.
  localparam int HANG = 4 * (MAX_WIDTH + 2 * M) + 4000;

  logic clk = 1'b0;
  logic rst = 1'b1;
  logic [15:0] width = '0, height = '0;
  logic s_valid = 1'b0, s_user = 1'b0, s_last = 1'b0;
  logic [P-1:0] s_data = '0;
  logic s_ready;
  logic m_valid, m_user, m_last;
  logic [P-1:0] m_data;
  logic m_ready = 1'b0;

  tapsmith_blur #(
    .N(N), .SHIFT(SHIFT), .TAPS(TAPS), .P(P), .MAX_WIDTH(MAX_WIDTH), .BORDER(BORDER)
  ) dut (
    .clk, .rst, .width, .height,
    .s_axis_tvalid(s_valid), .s_axis_tready(s_ready), .s_axis_tdata(s_data),
    .s_axis_tuser(s_user), .s_axis_tlast(s_last),
    .m_axis_tvalid(m_valid), .m_axis_tready(m_ready), .m_axis_tdata(m_data),
    .m_axis_tuser(m_user), .m_axis_tlast(m_last)
  );

  always #5 clk = !clk;

  // Input beats and expected output beats, read from the files before the clock starts.
  int in_data[$], in_w[$], in_h[$];
  bit in_user[$], in_last[$];
  int exp_data[$], exp_frame[$];
  bit exp_user[$], exp_last[$];
  int frames = 0;
  string vec_name;

  function automatic void fail(string msg);
    $display("FAIL %s: %s", vec_name, msg);
    $fatal(1, "tb_blur failed");
  endfunction

  function automatic void read_cfg(string path);
    int fd, v, i;
    int want[$];
    want = '{N, SHIFT, P, BORDER, MAX_WIDTH};
    for (i = 0; i < N; i++) want.push_back(int'(TAPS[32*i +: 32]));
    fd = $fopen(path, "r");
    if (fd == 0) fail({"cannot open ", path});
    for (i = 0; i < want.size(); i++) begin
      if ($fscanf(fd, "%d", v) != 1) fail($sformatf("%s: item %0d missing", path, i));
      if (v != want[i]) fail($sformatf("%s: item %0d is %0d, the bench was built with %0d",
                                       path, i, v, want[i]));
    end
    if ($fscanf(fd, "%d", v) == 1) fail($sformatf("%s: more than %0d items", path, want.size()));
    $fclose(fd);
  endfunction

  int vec_fd;

  function automatic int read_hex(int line_no, string what);
    string line;
    int v;
    if ($fgets(line, vec_fd) == 0) fail($sformatf("line %0d: end of file, wanted %s", line_no, what));
    if ($sscanf(line, "%h", v) != 1) fail($sformatf("line %0d: '%s' is not %s", line_no, line, what));
    if (v < 0 || v >= (1 << P)) fail($sformatf("line %0d: %s %0h exceeds %0d bits", line_no, what, v, P));
    return v;
  endfunction

  function automatic void read_vec(string path);
    int w, h, k, i, line_no, pixels;
    bit open_short = 0;  // the last frame lacks pixels: only a later start of frame ends it
    string line, word;
    vec_fd = $fopen(path, "r");
    if (vec_fd == 0) fail({"cannot open ", path});
    line_no = 0;
    while ($fgets(line, vec_fd) != 0) begin
      line_no++;
      if (line.len() == 0 || line[0] == "#" || line == "\n") continue;
      if ($sscanf(line, "stray %d", k) == 1) begin
        if (open_short) fail($sformatf("line %0d: stray beats right after a cut-short frame would be its pixels", line_no));
        for (i = 0; i < k; i++) begin
          in_data.push_back(read_hex(++line_no, "a stray pixel"));
          in_user.push_back(1'b0);
          in_last.push_back(1'b0);
          in_w.push_back(-1);
          in_h.push_back(-1);
        end
      end else if ($sscanf(line, "frame %d %d %d", w, h, k) == 3) begin
        if (w < 0 || w > 65535 || h < 0 || h > 65535 || k < 1)
          fail($sformatf("line %0d: bad frame record '%s'", line_no, line));
        for (i = 0; i < k; i++) begin
          in_data.push_back(read_hex(++line_no, "an input pixel"));
          in_user.push_back(i == 0);
          in_last.push_back(w != 0 && i % w == w - 1);
          // Size only on the first beat: anything else on the others must not matter.
          in_w.push_back(i == 0 ? w : -1);
          in_h.push_back(i == 0 ? h : -1);
        end
        // A frame the core must refuse (zero size, too wide) has no expected pixels.
        pixels = (w == 0 || h == 0 || w > MAX_WIDTH) ? 0 : w * h;
        for (i = 0; i < pixels; i++) begin
          exp_data.push_back(read_hex(++line_no, "an expected pixel"));
          exp_user.push_back(i == 0);
          exp_last.push_back(i % w == w - 1);
          exp_frame.push_back(frames);
        end
        if (pixels != 0) frames++;
        open_short = pixels != 0 && k < pixels;
      end else begin
        void'($sscanf(line, "%s", word));
        fail($sformatf("line %0d: unknown record '%s'", line_no, word));
      end
    end
    $fclose(vec_fd);
    if (open_short) fail("the last frame is cut short, but no start of frame follows to end it");
  endfunction

  // xorshift32: the same stalls on every simulator and every run.
  int unsigned rng = 1;
  function automatic int unsigned next_rand();
    rng ^= rng << 13;
    rng ^= rng >> 17;
    rng ^= rng << 5;
    return rng;
  endfunction

  // Probability (in 1/8) of a side being active, changed every 32 to 287 cycles.
  int in_prob = 8, out_prob = 8, phase_left = 0;
  bit nostall = 0;
  longint cycle = 0, idle = 0, first_in = -1, last_out = -1;
  int in_idx = 0, out_idx = 0, drain = 0;
  bit was_stalled = 0;
  logic [P-1:0] stalled_data;
  logic stalled_user, stalled_last;
  longint frame_start[$];

  initial begin
    string cfg_path;
    int seed;
    if (!$value$plusargs("cfg=%s", cfg_path)) fail("no +cfg=");
    if (!$value$plusargs("vec=%s", vec_name)) fail("no +vec=");
    if ($value$plusargs("seed=%d", seed)) rng = seed == 0 ? 1 : seed;
    nostall = $test$plusargs("nostall");
    read_cfg(cfg_path);
    read_vec(vec_name);
  end

  always @(posedge clk) begin
    cycle <= cycle + 1;
    if (cycle == 4) rst <= 1'b0;
    if (!rst) begin
      idle <= idle + 1;
      // What happened at this edge, seen with the values from before it.
      if (s_valid && s_ready) begin
        idle <= 0;
        if (first_in < 0) first_in <= cycle;
        in_idx <= in_idx + 1;
      end
      if (was_stalled && (!m_valid || m_data != stalled_data || m_user != stalled_user ||
                          m_last != stalled_last))
        fail($sformatf("beat %0d: output changed or withdrawn before it was taken", out_idx));
      was_stalled <= m_valid && !m_ready;
      stalled_data <= m_data;
      stalled_user <= m_user;
      stalled_last <= m_last;
      if (m_valid && m_ready) begin
        idle <= 0;
        last_out <= cycle;
        if (out_idx >= exp_data.size())
          fail($sformatf("extra output beat %0h after all %0d expected", m_data, exp_data.size()));
        if (int'(m_data) != exp_data[out_idx] || m_user != exp_user[out_idx] ||
            m_last != exp_last[out_idx])
          fail($sformatf("beat %0d (frame %0d): got data %0h user %0b last %0b, want %0h %0b %0b",
                         out_idx, exp_frame[out_idx], m_data, m_user, m_last, exp_data[out_idx],
                         exp_user[out_idx], exp_last[out_idx]));
        if (exp_user[out_idx]) frame_start.push_back(cycle);
        out_idx <= out_idx + 1;
      end
      if (idle > longint'(HANG) && (in_idx < in_data.size() || out_idx < exp_data.size()))
        fail($sformatf("hang: %0d of %0d input beats taken, %0d of %0d output beats seen",
                       in_idx, in_data.size(), out_idx, exp_data.size()));

      if (phase_left == 0) begin
        phase_left <= 32 + int'(next_rand() % 256);
        in_prob <= nostall ? 8 : int'(next_rand() % 4) * 2 + 2;
        out_prob <= nostall ? 8 : int'(next_rand() % 4) * 2 + 2;
      end else begin
        phase_left <= phase_left - 1;
      end

      // Input: a beat once offered stays until taken.
      if (!(s_valid && !s_ready)) begin
        automatic int idx = in_idx + int'(s_valid && s_ready);
        if (idx < in_data.size() && int'(next_rand() % 8) < in_prob) begin
          s_valid <= 1'b1;
          s_data <= P'(in_data[idx]);
          s_user <= in_user[idx];
          s_last <= in_last[idx];
          width <= in_w[idx] < 0 ? 16'(next_rand()) : 16'(in_w[idx]);
          height <= in_h[idx] < 0 ? 16'(next_rand()) : 16'(in_h[idx]);
        end else begin
          // Nothing offered: put noise on the lines, the core must not pick it up.
          s_valid <= 1'b0;
          s_data <= P'(next_rand());
          s_user <= next_rand() % 2 == 0;
          s_last <= next_rand() % 2 == 0;
          width <= 16'(next_rand());
          height <= 16'(next_rand());
        end
      end
      m_ready <= int'(next_rand() % 8) < out_prob;

      // After the last expected beat, wait a while on a ready output for anything extra.
      if (in_idx == in_data.size() && out_idx == exp_data.size()) begin
        drain <= drain + 1;
        m_ready <= 1'b1;
        if (drain == 8 * (MAX_WIDTH + 2 * M) + 200) begin
          $write("cycles %0d from first input to last output; between frame starts:",
                 last_out - first_in + 1);
          for (int i = 1; i < frame_start.size(); i++) $write(" %0d", frame_start[i] - frame_start[i-1]);
          $write("\n");
          $display("PASS %0d pixels in %0d frames", exp_data.size(), frames);
          $finish;
        end
      end
    end
  end
endmodule
