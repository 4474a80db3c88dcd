// SPDX-License-Identifier: MIT
//
// tapsmith_blur: a streaming separable Gaussian filter over AXI4-Stream video.
//
// Every output pixel is
//   (sum over i, j of t_i * t_j * p(x + j - m, y + i - m) + 2^(2*SHIFT-1)) >> (2*SHIFT),
// with t the N taps of TAPS (tap i in bits 32i+31 .. 32i, summing to 2^SHIFT) and m = (N-1)/2.
// The sum is exact: a vertical pass of P + SHIFT bits feeds a horizontal pass of P + 2*SHIFT bits
// and the only rounding (half up) is the final shift. Pixels outside the image come from BORDER:
// 0 reflect101 (folded as often as needed, so lines shorter than m work), 1 replicate, 2 zero.
//
// Frame protocol
//   1. A beat with s_axis_tuser = 1 starts a frame; width and height are taken from that beat only.
//      Beats outside a frame (before the first start, or after the W*H pixels of a frame and before
//      the next start) are accepted and thrown away.
//   2. s_axis_tlast is not looked at: lines are counted with the sampled width.
//   3. A start of frame that arrives before the current frame has all its W*H pixels ends that frame
//      early: the core keeps that beat in its holding register, fills the missing pixels with 0 on
//      its own while s_axis_tready stays low, then opens the new frame with the beat. Each frame
//      therefore yields exactly W*H pixels and a wrongly sized frame can never wedge the core. A
//      frame that is short and never followed by a start of frame stays open (its last lines wait).
//   4. A frame announced with width 0, height 0 or width > MAX_WIDTH yields nothing; its beats are
//      dropped like those of rule 1 until the next start of frame.
//   5. Each frame leaves as W*H beats in raster order, m_axis_tuser on its first beat and
//      m_axis_tlast on the last beat of each line.
//   6. Frames may come back to back; the next frame's lines go into the line buffers while the
//      previous frame's last lines are still being filtered.
//
// Throughput and latency (neither side stalling)
//   The reader spends exactly W + 2m cycles on a line (each of the m padding columns on either side
//   costs a read) and emits the line's W pixels in them, one per cycle. The writer takes one pixel
//   per cycle and waits while it is m + 2 lines ahead of the reader, so in steady state s_axis_tready
//   is low 2m cycles per line. Each frame adds a reader set-up of 3m + 3 cycles (reflect101) or
//   2m + 2 (replicate, zero). There is no flush: the next frame's first lines are written while the
//   last lines of the previous one are filtered. Back-to-back frames thus take exactly
//   H * (W + 2m) + 3m + 3 cycles each with reflect101 (3273 for 64 x 48, N = 5) and
//   H * (W + 2m) + 2m + 2 with the other borders.
//   A line is filtered once all its input lines are in: if the beat completing input line
//   min(y + m, H - 1) is accepted at clock edge e while the reader waits for it, the reader starts
//   output line y at edge e + 2 and offers its first pixel from edge e + 2m + 5 on.
//
// Resources
//   N + 1 line buffers of MAX_WIDTH x P bits (block RAM: one write port and one registered read port
//   each), used round robin across frames; N constant multiplications summed in one cycle for the
//   vertical pass (P + SHIFT bits) and N for the horizontal pass (P + 2*SHIFT bits); a 2-entry queue
//   of frame sizes and an 8-entry output queue, in flip-flops.
//
// Structure
//   Writer: a one-beat holding register takes the input; it writes pixel (col, row) of the frame
//   into buffer (global row) mod (N+1). Row g may be written once the output side has finished all
//   rows up to g - m - 2, that is while `lead` (rows written minus rows filtered) is <= m + 1.
//   Reader: output row y starts once `lead` >= min(m + 1, H - y). Per line it walks the padded
//   columns q = -m .. W-1+m, reads column map(q) from every buffer, picks for tap i the buffer
//   holding row map(y + i - m), and forms the vertical sum v, which slides through an N-entry
//   window for the horizontal sum. Border maps are kept as walkers that step by one (a
//   bouncing index for reflect101), so no division or repeated folding is needed per pixel.
//   A read is issued for an output column only when the output queue is sure to have room for its
//   result, so none of the pipeline stages ever waits.

module tapsmith_blur #(
  parameter int N = 5,
  parameter int SHIFT = 8,
  parameter logic [32*N-1:0] TAPS = {32'd14, 32'd62, 32'd104, 32'd62, 32'd14},
  parameter int P = 8,
  parameter int MAX_WIDTH = 1920,
  parameter int BORDER = 0          // 0 reflect101, 1 replicate, 2 zero
) (
  input  logic clk,
  input  logic rst,
  input  logic [15:0] width,
  input  logic [15:0] height,
  input  logic s_axis_tvalid,
  output logic s_axis_tready,
  input  logic [P-1:0] s_axis_tdata,
  input  logic s_axis_tuser,
  input  logic s_axis_tlast,
  output logic m_axis_tvalid,
  input  logic m_axis_tready,
  output logic [P-1:0] m_axis_tdata,
  output logic m_axis_tuser,
  output logic m_axis_tlast
);

  localparam int M = (N - 1) / 2;
  localparam int NB = N + 1;                                  // line buffers
  localparam int BW = $clog2(NB);                             // buffer index
  localparam int AW = (MAX_WIDTH > 1) ? $clog2(MAX_WIDTH) : 1;
  localparam int VW = P + SHIFT;                              // vertical sums
  localparam int HW = P + 2 * SHIFT;                          // horizontal sums
  localparam int LW = $clog2(M + 3);                          // lead: 0 .. m + 2
  localparam int CW = 17;                                     // padded column: 0 .. W-1+2m
  localparam int QW = 18;                                     // row walker position + m
  localparam int KW = $clog2(N + 1) + 1;                      // set-up counter: 0 .. N
  localparam int DEPTH = 8;                                   // output queue
  localparam int DW = $clog2(DEPTH);
  localparam int RS = (SHIFT > 0) ? 2 * SHIFT - 1 : 0;
  localparam logic [HW-1:0] ROUND = (SHIFT > 0) ? (HW'(1) << RS) : '0;

  localparam logic [LW-1:0] LEAD_FULL = LW'(M + 1);
  localparam logic [CW-1:0] C_M = CW'(M);
  localparam logic [CW-1:0] C_2M = CW'(2 * M);
  localparam logic [KW-1:0] K_M = KW'(M);
  localparam logic [KW-1:0] K_LAST = KW'(N - 1);
  localparam logic [BW-1:0] B_LAST = BW'(NB - 1);

  function automatic logic [BW-1:0] buf_inc(logic [BW-1:0] b);
    buf_inc = (b == B_LAST) ? '0 : b + 1'b1;
  endfunction

  function automatic logic [BW-1:0] buf_dec(logic [BW-1:0] b);
    buf_dec = (b == '0) ? B_LAST : b - 1'b1;
  endfunction

  // reflect101 walker: after a step the direction is turned at either end, so `up` always says where
  // the next step goes. A line of length 1 never moves.
  function automatic logic turn(logic [15:0] c, logic up, logic [15:0] len);
    turn = (c == len - 16'd1) ? 1'b0 : (c == '0) ? 1'b1 : up;
  endfunction

  function automatic logic [HW-1:0] tap(int i);
    tap = HW'(TAPS[32*i +: 32]);
  endfunction

`ifndef SYNTHESIS
  // Wrong parameters would give a core that quietly computes something else.
  initial begin
    longint sum = 0;
    for (int i = 0; i < N; i++) sum += longint'(TAPS[32*i +: 32]);
    if (N < 1 || N % 2 == 0) $fatal(1, "tapsmith_blur: N = %0d is not odd", N);
    if (SHIFT < 0 || P < 1 || P > 16 || P + 2 * SHIFT > 64)
      $fatal(1, "tapsmith_blur: P = %0d, SHIFT = %0d out of range", P, SHIFT);
    if (sum != 64'sd1 << SHIFT) $fatal(1, "tapsmith_blur: taps sum to %0d, not 2^%0d", sum, SHIFT);
    if (MAX_WIDTH < 1 || MAX_WIDTH > 65535) $fatal(1, "tapsmith_blur: MAX_WIDTH = %0d", MAX_WIDTH);
    if (BORDER < 0 || BORDER > 2) $fatal(1, "tapsmith_blur: BORDER = %0d", BORDER);
  end
`endif

  // ---------------------------------------------------------------------------------------------
  // Writer

  logic hold_valid, hold_user;
  logic [P-1:0] hold_data;
  logic [15:0] hold_w, hold_h;

  logic w_frame;                        // inside a frame that still lacks pixels
  logic [15:0] w_w, w_h, wcol, wrow;
  logic [BW-1:0] wbuf;
  logic [LW-1:0] lead;

  logic size_ok, can_write, desc_room, w_start, w_drop, wr_en, pop_hold, w_row_end, w_frame_end;
  logic [P-1:0] wr_data;
  logic [15:0] cur_w, cur_h;

  logic unused_tlast;
  assign unused_tlast = s_axis_tlast;

  always_comb begin
    size_ok = hold_w != '0 && hold_h != '0 && $signed(32'(hold_w)) <= MAX_WIDTH;
    can_write = lead <= LEAD_FULL;
    w_start = !w_frame && hold_valid && hold_user && size_ok && can_write && desc_room;
    w_drop = !w_frame && hold_valid && !(hold_user && size_ok);
    // A start of frame inside a frame stays in the holding register while zeros complete the frame.
    wr_en = w_start || (w_frame && hold_valid && can_write);
    wr_data = (w_frame && hold_user) ? '0 : hold_data;
    pop_hold = w_start || w_drop || (w_frame && hold_valid && can_write && !hold_user);
    cur_w = w_frame ? w_w : hold_w;
    cur_h = w_frame ? w_h : hold_h;
    w_row_end = wr_en && wcol == cur_w - 16'd1;
    w_frame_end = w_row_end && wrow == cur_h - 16'd1;
    s_axis_tready = !hold_valid || pop_hold;
  end

  always_ff @(posedge clk) begin
    if (s_axis_tvalid && s_axis_tready) begin
      hold_data <= s_axis_tdata;
      hold_user <= s_axis_tuser;
      hold_w <= width;
      hold_h <= height;
    end
    if (rst) begin
      hold_valid <= 1'b0;
    end else if (s_axis_tvalid && s_axis_tready) begin
      hold_valid <= 1'b1;
    end else if (pop_hold) begin
      hold_valid <= 1'b0;
    end
  end

  always_ff @(posedge clk) begin
    if (w_start) begin
      w_w <= hold_w;
      w_h <= hold_h;
    end
    if (rst) begin
      w_frame <= 1'b0;
      wcol <= '0;
      wrow <= '0;
      wbuf <= '0;
    end else if (wr_en) begin
      w_frame <= !w_frame_end;
      wcol <= w_row_end ? '0 : wcol + 16'd1;
      if (w_row_end) begin
        wbuf <= buf_inc(wbuf);
        wrow <= w_frame_end ? '0 : wrow + 16'd1;
      end
    end
  end

  // Sizes of the frames the writer has opened and the reader has not yet started.
  logic [31:0] desc_mem [0:1];
  logic desc_wp, desc_rp;
  logic [1:0] desc_count;
  logic desc_pop;
  logic [15:0] desc_w, desc_h;

  assign desc_room = desc_count != 2'd2;
  assign {desc_w, desc_h} = desc_mem[desc_rp];

  always_ff @(posedge clk) begin
    if (w_start) desc_mem[desc_wp] <= {hold_w, hold_h};
    if (rst) begin
      desc_wp <= 1'b0;
      desc_rp <= 1'b0;
      desc_count <= '0;
    end else begin
      if (w_start) desc_wp <= !desc_wp;
      if (desc_pop) desc_rp <= !desc_rp;
      desc_count <= desc_count + {1'b0, w_start} - {1'b0, desc_pop};
    end
  end

  // ---------------------------------------------------------------------------------------------
  // Line buffers

  logic [AW-1:0] rd_addr;
  logic [NB*P-1:0] rd_data;

  for (genvar k = 0; k < NB; k++) begin : g_line
    logic [P-1:0] mem [0:MAX_WIDTH-1];
    logic [P-1:0] q;
    always_ff @(posedge clk) begin
      if (wr_en && wbuf == BW'(k)) mem[wcol[AW-1:0]] <= wr_data;
      q <= mem[rd_addr];
    end
    assign rd_data[k*P +: P] = q;
  end

  // ---------------------------------------------------------------------------------------------
  // Reader

  typedef enum logic [1:0] {R_IDLE, R_SETUP, R_FILL, R_RUN} r_state_e;
  r_state_e r_state;

  logic [15:0] r_w, r_h, rows_left;
  logic first_row;
  logic [BW-1:0] rbuf;                  // buffer of the current output row
  logic [KW-1:0] k_cnt;
  logic [CW-1:0] ccount;                // padded column q + m
  logic [15:0] cc, cc0;                 // column to read (reflect101, replicate)
  logic cup, cup0;
  logic [15:0] rc;                      // row walker: row, direction, buffer, position + m
  logic rup;
  logic [BW-1:0] rcm;
  logic [QW-1:0] rq;
  logic [N*BW-1:0] win_buf;             // buffer of row map(y + i - m), tap i
  logic [N-1:0] win_in;                 // false where the zero border applies

  logic s1_valid, s1_out, s1_user, s1_last, s1_colin;
  logic [N*BW-1:0] s1_buf;
  logic [N-1:0] s1_in;
  logic s2_valid, s2_out, s2_user, s2_last;
  logic [VW-1:0] s2_v;
  logic s3_valid, s3_out, s3_user, s3_last;
  logic [N*VW-1:0] hwin;

  logic [DW:0] o_count;
  logic row_ready, col_out, col_in, credit_ok, issue, row_done, frame_done, row_adv;
  logic [15:0] rc_next, cc_next;
  logic rup_next, cup_next, rc_move_up, rc_move_dn;
  logic [CW-1:0] c_end;

  always_comb begin
    // Line y needs input lines up to y + m, or only up to the frame's last line near the bottom.
    row_ready = lead >= LEAD_FULL || 16'(lead) >= rows_left;
    col_out = $signed(32'(ccount)) >= 2 * M;
    col_in = BORDER != 2 || ($signed(32'(ccount)) >= M && $signed(32'(ccount)) < $signed(32'(r_w)) + M);
    credit_ok = 32'(o_count) + 32'(s1_valid && s1_out) + 32'(s2_valid && s2_out)
        + 32'(s3_valid && s3_out) < DEPTH;
    // Once a line has started its inputs stay put, so only its first read waits for them.
    issue = r_state == R_RUN && (ccount != '0 || row_ready) && (!col_out || credit_ok);
    c_end = CW'(r_w) + C_2M - CW'(1);
    row_done = issue && ccount == c_end;
    frame_done = row_done && rows_left == 16'd1;
    row_adv = r_state == R_FILL || row_done;
    desc_pop = r_state == R_IDLE && desc_count != '0;

    if (BORDER == 2) begin
      rd_addr = col_in ? AW'(ccount - C_M) : '0;
    end else begin
      rd_addr = cc[AW-1:0];
    end

    // One step of the column walker (reflect101, replicate).
    cc_next = cc;
    cup_next = cup;
    if (BORDER == 0) begin
      if (r_w != 16'd1) begin
        cc_next = cup ? cc + 16'd1 : cc - 16'd1;
        cup_next = turn(cc_next, cup, r_w);
      end
    end else if ($signed(32'(ccount)) >= M && cc != r_w - 16'd1) begin
      cc_next = cc + 16'd1;
    end

    // One step of the row walker; rq is the position plus m.
    rc_move_up = 1'b0;
    rc_move_dn = 1'b0;
    if (BORDER == 0) begin
      rc_move_up = r_h != 16'd1 && rup;
      rc_move_dn = r_h != 16'd1 && !rup;
    end else if (BORDER == 1) begin
      rc_move_up = $signed(32'(rq)) >= M && rc != r_h - 16'd1;
    end else begin
      rc_move_up = 1'b1;
    end
    rc_next = rc_move_up ? rc + 16'd1 : rc_move_dn ? rc - 16'd1 : rc;
    rup_next = turn(rc_next, rup, r_h);
  end

  always_ff @(posedge clk) begin
    if (rst) begin
      r_state <= R_IDLE;
      rbuf <= '0;
      lead <= '0;
    end else begin
      lead <= lead + LW'(w_row_end) - LW'(row_done);
      if (row_done) rbuf <= buf_inc(rbuf);
      case (r_state)
        R_IDLE: if (desc_pop) r_state <= BORDER == 0 ? R_SETUP : R_FILL;
        R_SETUP: if (k_cnt == K_M) r_state <= R_FILL;
        R_FILL: if (k_cnt == K_LAST) r_state <= R_RUN;
        default: if (frame_done) r_state <= R_IDLE;
      endcase
    end
  end

  always_ff @(posedge clk) begin
    case (r_state)
      R_IDLE: if (desc_pop) begin
        r_w <= desc_w;
        r_h <= desc_h;
        rows_left <= desc_h;
        first_row <= 1'b1;
        k_cnt <= '0;
        ccount <= '0;
        // reflect101 starts at position 0 and walks to m (set-up); the others start at -m.
        cc <= '0;
        cup <= 1'b1;
        rc <= '0;
        rup <= 1'b1;
        rq <= '0;
        // With the zero border the walker starts m rows above row 0, so its buffer index too.
        rcm <= BORDER == 2 ? BW'((32'(rbuf) + NB - M) % NB) : rbuf;
      end
      R_SETUP: begin
        k_cnt <= k_cnt + 1'b1;
        if (k_cnt != K_M) begin
          cc <= cc_next;
          cup <= cup_next;
          rc <= rc_next;
          rup <= rup_next;
          rcm <= rc_move_up ? buf_inc(rcm) : rc_move_dn ? buf_dec(rcm) : rcm;
        end else begin
          // reflect101 is symmetric about 0: the walk from -m onwards is the walk back from m.
          k_cnt <= '0;
          cc0 <= cc;
          cup0 <= turn(cc, !cup, r_w);
          cup <= turn(cc, !cup, r_w);
          rup <= turn(rc, !rup, r_h);
        end
      end
      R_FILL: begin
        k_cnt <= k_cnt + 1'b1;
      end
      default: begin
        if (issue) ccount <= row_done ? '0 : ccount + 1'b1;
        if (row_done) begin
          rows_left <= rows_left - 16'd1;
          first_row <= 1'b0;
          if (BORDER == 0) begin
            cc <= cc0;
            cup <= cup0;
          end else begin
            cc <= '0;
          end
        end else if (issue) begin
          cc <= cc_next;
          cup <= cup_next;
        end
      end
    endcase
    // The row window moves down one row (and is filled this way during set-up): the walker gives
    // the new bottom entry, its buffer index moving with it so no modulo is ever computed.
    if (row_adv) begin
      for (int i = 0; i + 1 < N; i++) begin
        win_buf[i*BW +: BW] <= win_buf[(i+1)*BW +: BW];
        win_in[i] <= win_in[i+1];
      end
      win_buf[(N-1)*BW +: BW] <= rcm;
      win_in[N-1] <= BORDER != 2 || ($signed(32'(rq)) >= M && $signed(32'(rq)) < $signed(32'(r_h)) + M);
      rc <= rc_next;
      rup <= rup_next;
      rcm <= rc_move_up ? buf_inc(rcm) : rc_move_dn ? buf_dec(rcm) : rcm;
      rq <= rq + 1'b1;
    end
  end

  // ---------------------------------------------------------------------------------------------
  // Filter pipeline: issue -> block RAM read (s1) -> vertical sum (s2) -> horizontal window (s3)
  // -> output queue. Tags travel along because the next row's selection is set while the last
  // columns of a row are still in flight.

  logic [VW-1:0] v_sum;
  logic [HW-1:0] h_sum;
  logic [P-1:0] pix;

  always_comb begin
    v_sum = '0;
    for (int i = 0; i < N; i++) begin
      pix = '0;
      for (int k = 0; k < NB; k++) begin
        if (s1_buf[i*BW +: BW] == BW'(k)) pix = rd_data[k*P +: P];
      end
      if (!(s1_in[i] && s1_colin)) pix = '0;
      v_sum = v_sum + VW'(tap(i) * HW'(pix));
    end
    h_sum = ROUND;
    for (int j = 0; j < N; j++) h_sum = h_sum + tap(j) * HW'(hwin[j*VW +: VW]);
  end

  always_ff @(posedge clk) begin
    if (rst) begin
      s1_valid <= 1'b0;
      s2_valid <= 1'b0;
      s3_valid <= 1'b0;
    end else begin
      s1_valid <= issue;
      s2_valid <= s1_valid;
      s3_valid <= s2_valid;
    end
    s1_out <= col_out;
    s1_user <= first_row && ccount == C_2M;
    s1_last <= row_done;
    s1_colin <= col_in;
    s1_buf <= win_buf;
    s1_in <= win_in;
    s2_out <= s1_out;
    s2_user <= s1_user;
    s2_last <= s1_last;
    s2_v <= v_sum;
    s3_out <= s2_out;
    s3_user <= s2_user;
    s3_last <= s2_last;
    if (s2_valid) begin
      for (int j = 0; j + 1 < N; j++) hwin[j*VW +: VW] <= hwin[(j+1)*VW +: VW];
      hwin[(N-1)*VW +: VW] <= s2_v;
    end
  end

  // ---------------------------------------------------------------------------------------------
  // Output queue: the read side only issues what fits, so it never overflows.

  (* ram_style = "logic" *) logic [P+1:0] o_mem [0:DEPTH-1];  // too small for a block RAM
  logic [DW-1:0] o_wp, o_rp;
  logic o_push, o_pop;

  assign o_push = s3_valid && s3_out;
  assign o_pop = m_axis_tvalid && m_axis_tready;
  assign m_axis_tvalid = o_count != '0;
  assign {m_axis_tuser, m_axis_tlast, m_axis_tdata} = o_mem[o_rp];

  always_ff @(posedge clk) begin
    if (o_push) o_mem[o_wp] <= {s3_user, s3_last, h_sum[HW-1 -: P]};
    if (rst) begin
      o_wp <= '0;
      o_rp <= '0;
      o_count <= '0;
    end else begin
      if (o_push) o_wp <= o_wp + 1'b1;
      if (o_pop) o_rp <= o_rp + 1'b1;
      o_count <= o_count + (DW+1)'(o_push) - (DW+1)'(o_pop);
    end
  end

endmodule
