// SPDX-License-Identifier: MIT
//
// tapsmith_blur: a streaming separable Gaussian filter over AXI4-Stream video, 1 to 8 pixels a clock,
// without multipliers. The same design is written in VHDL (tapsmith_blur.vhd): the same stages,
// registers and handshake, so that both give the same beats on the same cycles.
//
// Every output pixel is
//   (sum over i, j of t_i * t_j * p(x + j - m, y + i - m) + 2^(2*SHIFT-1)) >> (2*SHIFT),
// with t the N taps of TAPS (tap i in bits 32i+31 .. 32i, symmetric, summing to 2^SHIFT) and
// m = (N-1)/2: exact, a vertical pass of P + SHIFT bits, then a horizontal pass of P + 2*SHIFT
// bits, and the only rounding (half up) at the very end. Outside the image an index reads by
// BORDER: 0 reflect101 (folded as often as needed), 1 replicate, 2 zero.
//
// A pixel has CHANNELS components of P bits (1 to 4), channel 0 in the low bits of a beat's
// tdata: grey is 1, RGB 3, RGBA 4. Every channel is filtered on its own, as the golden model
// does, with one line-buffer word and one set of row and column selects for all of them. With
// ALPHA = 1 the last channel is alpha: it leaves as it came, delayed to stay with its pixel.
//
// A beat carries PPC pixels (1, 2, 4 or 8) of a line, pixel 0 in the low bits: channel ch of pixel
// l is tdata bits (l*CHANNELS + ch)*P and up. A frame's width must be a multiple of PPC. A beat is
// one line-buffer word, the beat's pixels share the row selects, and the horizontal pass reads the
// columns of all of them from one window of the beats' vertical sums.
//
// Frame protocol
//   1. A beat with s_axis_tuser = 1 starts a frame; width and height are taken from that beat
//      only. Beats outside a frame (before the first start, or after a frame's W*H/PPC beats and
//      before the next start) are taken and thrown away. s_axis_tlast is not looked at.
//   2. A start of frame that arrives before the current frame has its W*H/PPC beats ends that
//      frame early: the core keeps the beat, fills the missing pixels with 0 on its own while
//      s_axis_tready is low, then opens the new frame with it.
//   3. A frame announced with width 0, height 0, width > MAX_WIDTH or a width that is not a
//      multiple of PPC yields nothing; its beats are thrown away like those of rule 1.
//   4. Each frame leaves as W*H/PPC beats in raster order, m_axis_tuser on its first beat and
//      m_axis_tlast on the last beat of each line.
//
// Timing
//   The core works in slots, at most one a clock: a slot reads one column (a beat's worth) of the
//   line buffers and writes the input beat there. A line's slots go row after row in one stream: the rows of a
//   frame, then its last m rows again as flush rows, which output the frame's last m lines. A
//   frame whose width equals the previous one's starts right after that frame's input, its first
//   m rows sharing their slots with the previous frame's flush rows; so back-to-back W x H frames
//   take exactly W*H/PPC cycles each (c = 0), and s_axis_tready stays high inside and across lines and
//   frames while m_axis_tready is high. With no next frame, the flush rows run on their own: a
//   frame's last lines come out without waiting for another. Once a next frame has started, its
//   first m rows and the previous frame's last m lines move together. A frame of another width
//   waits until the previous one has left. Latency: at full rate, output beat k of a frame leaves
//   11 + LV + LH cycles after input beat k + m*WB + G was taken (past the frame's end, counting on
//   into the next frame's beats or the flush rows' cycles), WB = W/PPC the beats a line, G =
//   ceil(m/PPC) the beats the window reaches either side, LV and LH the depths of the two
//   adder trees: ceil(log2) of the terms a pass sums, one per signed digit of t_0 .. t_m (and,
//   horizontally, the rounding constant). 17 cycles (+ 2W + 2) for the default 5 taps, one
//   pixel a beat.
//
// Micro-architecture
//
//            +----------+  addr x   +--------------------+   E_0 .. E_2m   +--------------+
//   s_axis ->| hold reg |---------->| 2m line buffers    |---------------->| row select   |
//            | + slot   |  pixel    | (block RAM), rows  |  (forwarded     | per tap from |
//            | sequencer|---------->| shift down one     |   when W is     | the column,  |
//            +----------+           | buffer per row     |   tiny)         | by border    |
//                                   +--------------------+                 +------+-------+
//                                                                                 | w_0 .. w_2m
//   +------------------+   +---------------------------+   +----------------------v-------+
//   | output reg + skid|<--| horizontal: pre-add pairs,|<--| vertical: pre-add pairs,      |
//   | (clock enable    |   | shift-and-add over signed |   | shift-and-add over each tap's |
//   |  = skid empty)   |   | digits, adder tree, round |   | signed digits, adder tree     |
//   +------------------+   +-------------^-------------+   +--------------+---------------+
//                                        | column select by border         | v (P + SHIFT bits)
//                                        +--- window of 2m+1 sums <--------+
//
//   - The 2m line buffers hold the last 2m rows of the stream at column x: a slot reads them all,
//     and one cycle later writes buffer 1 with the pixel and buffer k+1 with what buffer k held,
//     so rows shift down a buffer per row; no buffer index ever selects a tap's row. A read of a
//     column whose write is still pending takes the pending data instead (lines of width 1, 2).
//   - Borders: per output row (and column) each tap's source among the 2m+1 rows (sums) of the
//     window is a small register, loaded from a table by the frame's size at the first row and
//     shifted down with one new entry from a walker per row; a tap selects only among the
//     positions it can ever need. The walker steps an index only on sides of at most m + 1; on
//     a larger side the newest tap folds once, at the far end, told by the rows (beats) left,
//     which the sequencer counts down. With several pixels a beat, the window holds 2G+1 beats and
//     tap j of pixel l selects among the PPC + 2m sums around the middle beat by a table, indexed
//     by how near the beat is to either end of its line: min(b, G) and min(WB-1-b, G) for beat b.
//   - Arithmetic: symmetric taps, so mirrored samples are added first (PRE_ADDS); each product is
//     shifts and adds over the tap's canonical signed digits (DIGIT_ADDERS), summed with the
//     others in one tree (TREE_ADDERS); every tree level is registered. No multiplier.
//   - Handshake: one clock enable for the whole pipeline, the registered "output skid buffer
//     empty": m_axis_tready reaches only the output registers.

module tapsmith_blur #(
  parameter int N = 5,
  parameter int SHIFT = 8,
  parameter logic [32*N-1:0] TAPS = {32'd14, 32'd62, 32'd104, 32'd62, 32'd14},
  parameter int P = 8,
  parameter int MAX_WIDTH = 1920,
  parameter int BORDER = 0,         // 0 reflect101, 1 replicate, 2 zero
  parameter int CHANNELS = 1,       // components a pixel, channel 0 in the low bits
  parameter int ALPHA = 0,          // 1: the last channel passes through unfiltered
  parameter int PPC = 1             // pixels a beat (1, 2, 4 or 8), pixel 0 in the low bits
) (
  input  logic clk,
  input  logic rst,
  input  logic [15:0] width,
  input  logic [15:0] height,
  input  logic s_axis_tvalid,
  output logic s_axis_tready,
  input  logic [PPC*CHANNELS*P-1:0] s_axis_tdata,
  input  logic s_axis_tuser,
  input  logic s_axis_tlast,
  output logic m_axis_tvalid,
  input  logic m_axis_tready,
  output logic [PPC*CHANNELS*P-1:0] m_axis_tdata,
  output logic m_axis_tuser,
  output logic m_axis_tlast
);


  // -----------------------------------------------------------------------------------------------
  // Sizes and the taps' arithmetic, worked out at elaboration. Tables are flat vectors (element i
  // of W bits at [i*W +: W]) and functions plain, so that Yosys, Verilator and Icarus all read
  // them. Wide datapath signals are arrays of elements instead: a simulator that propagates a
  // vector whole (Icarus) would copy all of it for every element that changes.

  localparam int M = (N - 1) / 2;
  localparam int NW = 2 * M + 1;                              // window rows (columns)
  localparam int NB = 2 * M;                                  // line buffers
  localparam int CP = CHANNELS * P;                           // a pixel, every channel
  localparam int BW = PPC * CP;                               // a beat
  localparam int LPPC = (PPC > 1) ? $clog2(PPC) : 0;
  localparam int WBMAX = (MAX_WIDTH + PPC - 1) / PPC;         // beats in the widest row
  localparam int AW = (WBMAX > 1) ? $clog2(WBMAX) : 1;
  // The horizontal window, in beats: the middle one and G either side, G = ceil(m / PPC). Of
  // its pixels the PPC + 2m around the middle beat's can be read: element e is pixel
  // G*PPC - m + e of the window.
  localparam int G = (M + PPC - 1) / PPC;
  localparam int NWH = 2 * G + 1;
  localparam int NE = PPC + 2 * M;
  localparam int EW = (NE > 1) ? $clog2(NE) : 1;
  localparam int GW = (G > 0) ? $clog2(G + 1) : 1;            // 0 .. G
  localparam int NS = (G + 1) * (G + 1);                      // beat states (a, r)
  localparam int NST = (PPC > 1) ? NS : 1;                    // as tabled: one pixel a beat has none
  localparam int VW = P + SHIFT;                              // vertical sums
  localparam int HW = P + 2 * SHIFT;                          // horizontal sums
  localparam int PW = (NW > 1) ? $clog2(NW) : 1;              // a window position
  localparam int CLS = M + 2;                                 // size classes 1 .. m+2
  localparam int CW = $clog2(CLS + 1);
  // The trees add and subtract modulo 2^VW (2^HW): a pass's true total lies in [0, 2^VW), so its
  // low bits are exact whatever the partial sums' signs, and no node needs headroom.
  localparam int TWV = VW;                                    // vertical tree
  localparam int TWH = HW;                                    // horizontal tree
  localparam int RW = $clog2(M + 2);                          // 0 .. m+1

  function automatic integer tap(input integer k);
    tap = TAPS[32*k +: 32];
  endfunction

  // Non-zero digits of v's non-adjacent form (its canonical signed digits).
  function automatic integer digits(input integer value);
    integer v, n;
    v = value;
    n = 0;
    while (v != 0) begin
      if (v % 2 != 0) begin
        v = (v % 4 == 3) ? v + 1 : v - 1;
        n = n + 1;
      end
      v = v / 2;
    end
    digits = n;
  endfunction

  function automatic integer nonzero_taps(input integer upto);
    integer k;
    integer n;
    n = 0;
    for (k = 0; k <= upto; k = k + 1) if (tap(k) != 0) n = n + 1;
    nonzero_taps = n;
  endfunction

  function automatic integer digit_adders(input integer unused);
    integer k;
    integer n;
    n = unused - unused;
    for (k = 0; k <= M; k = k + 1) if (tap(k) != 0) n = n + digits(tap(k)) - 1;
    digit_adders = n;
  endfunction

  function automatic integer term_count(input integer unused);
    integer k;
    integer n;
    n = unused - unused;
    for (k = 0; k <= M; k = k + 1) n = n + digits(tap(k));
    term_count = n;
  endfunction

  // The adder plan of one pass, as tapsmith-fixed counts it (for testbenches and reports).
  /* verilator lint_off UNUSEDPARAM */
  localparam int PRE_ADDS = nonzero_taps(M - 1);
  localparam int DIGIT_ADDERS = digit_adders(0);
  localparam int TREE_ADDERS = nonzero_taps(M) - 1;
  localparam int ADDERS_PER_PASS = PRE_ADDS + DIGIT_ADDERS + TREE_ADDERS;
  /* verilator lint_on UNUSEDPARAM */

  // The terms a pass sums: one per signed digit of each distinct tap k = 0 .. m (tap k pairs
  // window rows k and 2m - k; k = m is the centre). what: 0 the tap, 1 negative, 2 the shift.
  localparam int TV = term_count(0);
  localparam int TH = TV + ((SHIFT > 0) ? 1 : 0);             // and the rounding constant
  localparam int LV = (TV > 1) ? $clog2(TV) : 0;
  localparam int LH = (TH > 1) ? $clog2(TH) : 0;

  function automatic integer term(input integer t, input integer what);
    integer k;
    integer idx, v, s, found;
    idx = 0;
    found = 0;
    for (k = 0; k <= M; k = k + 1) begin
      v = tap(k);
      s = 0;
      while (v != 0) begin
        if (v % 2 != 0) begin
          if (idx == t) found = (what == 0) ? k : (what == 1) ? ((v % 4 == 3) ? 1 : 0) : s;
          idx = idx + 1;
          v = (v % 4 == 3) ? v + 1 : v - 1;
        end
        v = v / 2;
        s = s + 1;
      end
    end
    term = found;
  endfunction

  // The terms as tables, so that simulators look them up rather than work them out each cycle.
  function automatic logic [8*TH-1:0] term_table(input integer what);
    integer t;
    logic [8*TH-1:0] table_;
    table_ = '0;
    for (t = 0; t < TV; t = t + 1) table_[8*t +: 8] = 8'(term(t, what));
    term_table = table_;
  endfunction

  localparam logic [8*TH-1:0] TERM_TAP = term_table(0);
  localparam logic [8*TH-1:0] TERM_NEG = term_table(1);
  localparam logic [8*TH-1:0] TERM_SHIFT = term_table(2);

  function automatic integer nodes(input integer count, input integer l);
    nodes = (count + (1 << l) - 1) >> l;
  endfunction

  // A tree node at level l, index i covers terms i*2^l .. (i+1)*2^l - 1; it holds their sum
  // negated when all of them are negative, so that every node is one adder or subtractor. The
  // rounding term (index TV) is positive.
  function automatic logic node_neg(input integer count, input integer l, input integer i);
    integer t;
    logic neg;
    neg = 1'b1;
    for (t = 0; t < count; t = t + 1) begin
      if (t >= (i << l) && t < ((i + 1) << l) && (t >= TV || TERM_NEG[8*t +: 8] == 8'd0)) neg = 1'b0;
    end
    node_neg = neg;
  endfunction

  // Each tree node's kind, level by level: 0 passes its one child on, 1 adds, 2 subtracts the
  // left child from the right, 3 the right from the left.
  function automatic logic [2*TH*(LH+1)-1:0] node_table(input integer count, input integer levels);
    integer i, l;
    logic [2*TH*(LH+1)-1:0] table_;
    table_ = '0;
    for (l = 0; l < levels; l = l + 1) begin
      for (i = 0; i < count; i = i + 1) begin
        if (i < nodes(count, l + 1)) begin
          table_[2*(TH*l + i) +: 2] = (2 * i + 1 >= nodes(count, l)) ? 2'd0
              : (node_neg(count, l, 2 * i) == node_neg(count, l, 2 * i + 1)) ? 2'd1
              : node_neg(count, l, 2 * i) ? 2'd2 : 2'd3;
        end
      end
    end
    node_table = table_;
  endfunction

  localparam logic [2*TH*(LH+1)-1:0] VNODE = node_table(TV, LV);
  localparam logic [2*TH*(LH+1)-1:0] HNODE = node_table(TH, LH);

  // Borders. Index q of a line of `size` reads fold(q, size) (reflect101, replicate); window
  // position p (0 .. 2m) of output line y holds line y - m + p.
  function automatic integer fold(input integer index, input integer size);
    integer q;
    q = index;
    if (BORDER == 1) begin
      q = (q < 0) ? 0 : (q > size - 1) ? size - 1 : q;
    end else if (size == 1) begin
      q = 0;
    end else begin
      while (q < 0 || q > size - 1) q = (q < 0) ? -q : 2 * size - 2 - q;
    end
    fold = q;
  endfunction

  // Can tap i of a window ever read position p? reflect101 keeps p's parity and distance from the
  // centre (and a line of one row sends everything to the centre); replicate moves towards the
  // centre; zero never moves.
  function automatic logic cand(input integer i, input integer p);
    integer di, dp;
    di = (i > M) ? i - M : M - i;
    dp = (p > M) ? p - M : M - p;
    if (BORDER == 2) cand = p == i;
    else if (BORDER == 1) cand = (i <= M) ? (p >= i && p <= M) : (p >= M && p <= i);
    else cand = p == M || (dp <= di && (p - i) % 2 == 0);
  endfunction

  // The first output line (column) of a frame of size class c (1 .. m+1 the size itself, m+2 any
  // larger; stored 0-based in the tables below): each tap's position and whether it reads inside, and the walker's start for index m.
  function automatic integer start_pos(input integer c, input integer i);
    start_pos = (BORDER == 2) ? i : fold(i - M, c) + M;
  endfunction

  function automatic logic start_in(input integer c, input integer i);
    start_in = BORDER != 2 || (i - M >= 0 && i - M <= c - 1);
  endfunction

  function automatic integer start_at(input integer c);
    start_at = (BORDER == 2) ? M : fold(M, c);
  endfunction

  // reflect101's walker direction at index m, after walking there from index 0.
  function automatic logic start_up(input integer c);
    integer q;
    integer w;
    logic up;
    w = 0;
    up = 1'b1;
    if (c > 1) begin
      for (q = 0; q < M; q = q + 1) begin
        w = up ? w + 1 : w - 1;
        up = (w == c - 1) ? 1'b0 : (w == 0) ? 1'b1 : up;
      end
    end
    start_up = up;
  endfunction

  // The per-class tables: positions and insides of every tap, the walker's start. With long
  // filters they are wider than the 8k bits Verilator expects of a replication.
  /* verilator lint_off WIDTHCONCAT */
  function automatic logic [CLS*NW*PW-1:0] pos_table(input integer unused);
    integer c, i;
    logic [CLS*NW*PW-1:0] table_;
    table_ = '0;
    for (c = 1; c <= CLS; c = c + 1)
      for (i = 0; i < NW; i = i + 1) table_[((c-1)*NW + i)*PW +: PW] = PW'(start_pos(c, i + unused - unused));
    pos_table = table_;
  endfunction

  function automatic logic [CLS*NW-1:0] in_table(input integer unused);
    integer c, i;
    logic [CLS*NW-1:0] table_;
    table_ = '0;
    for (c = 1; c <= CLS; c = c + 1)
      for (i = 0; i < NW; i = i + 1) table_[(c-1)*NW + i] = start_in(c, i + unused - unused);
    in_table = table_;
  endfunction
  /* verilator lint_on WIDTHCONCAT */

  function automatic logic [CLS*RW-1:0] at_table(input integer unused);
    integer c;
    logic [CLS*RW-1:0] table_;
    table_ = '0;
    for (c = 1; c <= CLS; c = c + 1) table_[(c-1)*RW +: RW] = RW'(start_at(c) + unused - unused);
    at_table = table_;
  endfunction

  function automatic logic [CLS-1:0] up_table(input integer unused);
    integer c;
    logic [CLS-1:0] table_;
    table_ = '0;
    for (c = 1; c <= CLS; c = c + 1) table_[c-1] = start_up(c + unused - unused);
    up_table = table_;
  endfunction

  localparam logic [CLS*NW*PW-1:0] START_POS = pos_table(0);
  localparam logic [CLS*NW-1:0] START_IN = in_table(0);
  localparam logic [CLS*RW-1:0] START_AT = at_table(0);
  localparam logic [CLS-1:0] START_UP = up_table(0);

  // The candidates of every tap, position by position.
  /* verilator lint_off WIDTHCONCAT */
  function automatic logic [NW*NW-1:0] cand_table(input integer unused);
    integer i, p;
    logic [NW*NW-1:0] table_;
    table_ = '0;
    for (i = 0; i < NW; i = i + 1)
      for (p = 0; p < NW; p = p + 1) table_[i*NW + p] = cand(i, p + unused - unused);
    cand_table = table_;
  endfunction
  /* verilator lint_on WIDTHCONCAT */

  localparam logic [NW*NW-1:0] CAND = cand_table(0);

  // Several pixels a beat: what tap j of the beat's pixel l reads depends only on the beat's
  // state (a, r) = (min(b, G), min(WB - 1 - b, G)), b the beat in a row of WB beats. Further from
  // both ends than G beats no tap reaches past the row; nearer, a and r give b and WB exactly, or
  // the one end within reach and that a single fold there. State s = a * (G + 1) + r stands for
  // beat a of a row of a + r + 1 beats. Each entry: the element read and whether it is inside.
  function automatic integer wide_pick(input integer s, input integer l, input integer j,
                                       input integer what);
    integer x, w, c;
    x = (s / (G + 1)) * PPC + l;
    w = (s / (G + 1) + s % (G + 1) + 1) * PPC;
    c = x - M + j;
    if (what == 1) wide_pick = (BORDER != 2 || (c >= 0 && c < w)) ? 1 : 0;
    else wide_pick = (BORDER == 2) ? l + j : fold(c, w) - x + l + M;
  endfunction

  /* verilator lint_off WIDTHCONCAT */
  function automatic logic [NST*PPC*NW*EW-1:0] wide_sel_table(input integer unused);
    integer s, l, j;
    logic [NST*PPC*NW*EW-1:0] table_;
    table_ = '0;
    for (s = 0; s < NST; s = s + 1)
      for (l = 0; l < PPC; l = l + 1)
        for (j = 0; j < NW; j = j + 1)
          table_[((s*PPC + l)*NW + j)*EW +: EW] = EW'(wide_pick(s, l, j + unused - unused, 0));
    wide_sel_table = table_;
  endfunction

  function automatic logic [NST*PPC*NW-1:0] wide_in_table(input integer unused);
    integer s, l, j;
    logic [NST*PPC*NW-1:0] table_;
    table_ = '0;
    for (s = 0; s < NST; s = s + 1)
      for (l = 0; l < PPC; l = l + 1)
        for (j = 0; j < NW; j = j + 1) table_[(s*PPC + l)*NW + j] = wide_pick(s, l, j + unused - unused, 1) != 0;
    wide_in_table = table_;
  endfunction

  // The elements tap j of pixel l can ever read.
  function automatic logic [PPC*NW*NE-1:0] wide_cand_table(input integer unused);
    integer s, l, j;
    logic [PPC*NW*NE-1:0] table_;
    table_ = '0;
    for (s = 0; s < NST; s = s + 1)
      for (l = 0; l < PPC; l = l + 1)
        for (j = 0; j < NW; j = j + 1)
          if (wide_pick(s, l, j, 1) != 0) table_[(l*NW + j)*NE + wide_pick(s, l, j + unused - unused, 0)] = 1'b1;
    wide_cand_table = table_;
  endfunction
  /* verilator lint_on WIDTHCONCAT */

  localparam logic [NST*PPC*NW*EW-1:0] WIDE_SEL = wide_sel_table(0);
  localparam logic [NST*PPC*NW-1:0] WIDE_IN = wide_in_table(0);
  localparam logic [PPC*NW*NE-1:0] WIDE_CAND = wide_cand_table(0);

`ifndef SYNTHESIS
  // Wrong parameters would give a core that quietly computes something else.
  initial begin
    longint sum;
    sum = 0;
    for (int i = 0; i < N; i++) sum = sum + 64'(TAPS[32*i +: 32]);
    if (N < 1 || N % 2 == 0) $fatal(1, "tapsmith_blur: N = %0d is not odd", N);
    if (SHIFT < 0 || SHIFT > 30 || P < 1 || P > 16 || P + 2 * SHIFT > 64)
      $fatal(1, "tapsmith_blur: P = %0d, SHIFT = %0d out of range", P, SHIFT);
    if (sum != 64'sd1 << SHIFT) $fatal(1, "tapsmith_blur: taps sum to %0d, not 2^%0d", sum, SHIFT);
    for (int i = 0; i < N; i++)
      if (TAPS[32*i +: 32] != TAPS[32*(N-1-i) +: 32]) $fatal(1, "tapsmith_blur: taps not symmetric");
    if (MAX_WIDTH < 1 || MAX_WIDTH > 65535) $fatal(1, "tapsmith_blur: MAX_WIDTH = %0d", MAX_WIDTH);
    if (BORDER < 0 || BORDER > 2) $fatal(1, "tapsmith_blur: BORDER = %0d", BORDER);
    if (CHANNELS < 1 || CHANNELS > 4) $fatal(1, "tapsmith_blur: CHANNELS = %0d", CHANNELS);
    if (ALPHA < 0 || ALPHA > 1 || (ALPHA == 1 && CHANNELS < 2))
      $fatal(1, "tapsmith_blur: ALPHA = %0d needs a colour channel beside it", ALPHA);
    if (PPC != 1 && PPC != 2 && PPC != 4 && PPC != 8) $fatal(1, "tapsmith_blur: PPC = %0d", PPC);
  end
`endif

  // A token travels with its slot: the horizontal fields to the output, bit by bit at these
  // offsets: output pixel, tuser, tlast, first column (load the columns), a later column (step
  // them), the newest tap's inside flag, the size class, the newest tap's position; with several
  // pixels a beat, the beat's state (a, r) instead of the last five.
  localparam int K_OUT = 0, K_USER = 1, K_LAST = 2, K_LOAD = 3, K_STEP = 4, K_IN = 5, K_CLS = 6;
  localparam int K_POS = K_CLS + CW;
  localparam int K_A = K_POS + PW;
  localparam int K_R = K_A + GW;
  localparam int KW = K_R + GW;                               // one pixel a beat: (a, r) stay 0

  // -----------------------------------------------------------------------------------------------
  // Clock enable and input register. What the sequencer needs of a beat's size is worked out as
  // the beat is taken, so that none of it lies on the sequencer's own paths.

  logic ce;                             // the output skid buffer is empty
  logic running;
  logic hold_valid, hold_user, hold_same, hold_w_one, hold_h_one, hold_h_two;
  logic hold_go;                        // the beat in hold starts a frame that yields pixels
  logic [BW-1:0] hold_data;
  logic [AW-1:0] hold_w1;               // beats a row - 1
  logic [15:0] hold_h;                  // height
  logic [CW-1:0] hold_vcls, hold_hcls;
  logic [GW-1:0] hold_r0;               // the first beat's r: min(beats - 1, G)
  logic hold_g0;                        // that is the last beat with r = G
  logic pop_hold, drop, start;
  logic [AW-1:0] s_last;                // the stream's beats a row - 1
  logic [GW-1:0] s_r0;
  logic s_g0;
  logic [15:0] wb;                      // the beat's width in beats

  // A side's size class, 0-based: min(size, m + 2) - 1.
  function automatic logic [CW-1:0] size_class(input logic [15:0] size);
    size_class = (32'(size) >= CLS) ? CW'(CLS - 1) : CW'(size - 16'd1);
  endfunction

  logic unused_tlast;
  assign unused_tlast = s_axis_tlast;
  assign wb = width >> LPPC;

  always_ff @(posedge clk) begin
    running <= !rst;
    if (s_axis_tvalid && s_axis_tready) begin
      hold_data <= s_axis_tdata;
      hold_user <= s_axis_tuser;
      hold_w1 <= AW'(wb - 16'd1);
      hold_h <= height;
      // The stream's width once the beat in hold, if it starts a frame now, has gone in.
      hold_same <= AW'(wb - 16'd1) == (start ? hold_w1 : s_last);
      hold_w_one <= wb == 16'd1;
      hold_h_one <= height == 16'd1;
      hold_h_two <= height == 16'd2;
      hold_r0 <= (32'(wb) > G) ? GW'(G) : GW'(wb - 16'd1);
      hold_g0 <= 32'(wb) == G + 1;
      hold_vcls <= size_class(height);
      hold_hcls <= size_class(width);
    end
    if (rst) begin
      hold_valid <= 1'b0;
      hold_go <= 1'b0;
    end else if (s_axis_tvalid && s_axis_tready) begin
      hold_valid <= 1'b1;
      // A width that is not a whole number of beats is refused like width 0.
      hold_go <= s_axis_tuser && width != '0 && height != '0 && 32'(width) <= MAX_WIDTH &&
                 (width & 16'(PPC - 1)) == '0;
    end else if (pop_hold) begin
      hold_valid <= 1'b0;
      hold_go <= 1'b0;
    end
  end
  assign s_axis_tready = running && (!hold_valid || pop_hold);

  // -----------------------------------------------------------------------------------------------
  // Slot sequencer: which row of the stream the next slot belongs to, and what it carries. Frames
  // in flight (at most two: one in its flush rows, one in its first rows) wait in a queue, from the
  // slot that starts them until their last output row: height, size classes, rows to wait.

  logic [15:0] f_h [0:1];
  logic [CW-1:0] f_vcls [0:1], f_hcls [0:1];
  logic [RW-1:0] f_wait [0:1];
  logic f_hp, f_tp;
  logic [1:0] f_n;

  logic in_active, row_in, row_auto;    // the stream's current row: an input row, or one on its own
  // The input row plus two, counted up from a constant (set and reset bits, no load), against
  // the frame's height: equal as the row before the last ends.
  logic [15:0] in_c, s_h;
  logic in_final;                       // the input row is the frame's last
  // Flags kept beside the counters, so that no decision waits for a comparison: the slot is a
  // row's first beat, its last, the stream is one beat wide, the head's output row is its last and
  // its first.
  logic x0, x_last, s_one, o_last, o_first;
  // The slot's beat x is told by the beats after it in its row, counted down (at x = 0 from the
  // row's width): that count is the line buffers' address, the same column on every row of a
  // width. Beat x's state (a, r) = (min(x, G), min(beats after, G)), kept a slot ahead like the
  // flags, and whether x is the last beat with r = G.
  logic [AW-1:0] xr, st_xr;
  logic [GW-1:0] bt_a, bt_r, st_a, st_r;
  logic st_g;
  logic o_near;                         // the window's newest row lies past the frame's end
  // Rows counted down to the end, not up to a height: the compares are against constants, and
  // no height minus one or two need be kept.
  logic [15:0] o_left;                  // rows from the head's output row to its end
  logic [1:0] f_one;                    // a frame in the queue is one row high
  logic [1:0] f_ready;                  // its wait is over
  // The head's entry, copied as it becomes the head, so that no walker reads through f_hp.
  logic [CW-1:0] h_vcls, h_hcls;
  logic [RW-1:0] tail;                  // slots still owed to the horizontal window
  logic owed;                           // frames in the queue, or slots owed: f_n != 0 || tail != 0
  // The border walkers of the newest row (column) of the window: the index read, reflect101's
  // direction, the window position and inside flag of the newest tap. Only sides of at most
  // m + 1 (size classes below the last) walk the index; on a larger side the newest tap folds
  // once, at the end, which the rows (columns) left tell, so the index stays small.
  logic [RW-1:0] vw_at, vw_at_n, hw_at, hw_at_n;
  logic vw_up, hw_up, vw_up_n, hw_up_n;
  logic [PW-1:0] vw_pos, hw_pos, vw_pos_n, hw_pos_n;
  logic vw_in, hw_in, vw_in_n, hw_in_n;

  logic in_now, auto_now, push, zero_fill, fire, row_end;
  logic [15:0] o_left_n, o_base;
  logic hp_n, o_last_n;
  logic head_out, out_now, first_row, pop_frame;
  logic v_big, h_big;
  logic [CW-1:0] out_vcls, out_hcls;

  always_comb begin
    start = x0 && !in_active && hold_go &&
        (f_n == '0 || (hold_same && f_n != 2'd2));
    in_now = x0 ? (in_active || start) : row_in;
    auto_now = !in_now && (x0 ? f_n != '0 : row_auto);
    push = x0 && !in_active && !hold_go && f_n == '0 && tail != '0;  // nothing starts: no in_now
    zero_fill = in_active && hold_valid && hold_user;
    // fire and pop_hold reach every clock enable of the sequencer and the hold register: they are
    // written out case by case over registered flags, so that they stay two or three LUTs deep.
    fire = ce && running && (x0 ? (in_active ? hold_valid : (owed || hold_go))
                                : (row_in ? in_active && hold_valid : row_auto));
    drop = running && hold_valid && !in_active && !hold_go;
    pop_hold = (ce && running && (x0 ? (in_active ? hold_valid && !hold_user : start)
                                     : row_in && in_active && hold_valid && !hold_user)) || drop;
    st_a = x0 ? '0 : bt_a;
    st_xr = x0 ? (start ? hold_w1 : s_last) : xr;
    st_r = x0 ? (start ? hold_r0 : s_r0) : bt_r;
    st_g = x0 ? (start ? hold_g0 : s_g0) : xr == AW'(G);
    row_end = !push && (x0 ? (start ? hold_w_one : s_one) : x_last);
    // The frame this slot outputs a row of: the head once its wait is over; with m = 0 a frame
    // outputs from its first row, before it is in the queue, so its sizes come from the hold
    // register.
    head_out = f_n != '0 && f_ready[f_hp];
    out_now = head_out || (M == 0 && start);  // a head waits, or has m > 0 rows: no push
    // With m > 0 nothing reads these but for the head.
    // The head's rows left; at its first output row, its height, so that nothing is loaded as
    // frames start or leave. With m = 0 a frame outputs as it starts, from the hold register.
    o_base = !o_first ? o_left : (M > 0 || head_out) ? f_h[f_hp] : hold_h;
    out_vcls = (M > 0 || head_out) ? h_vcls : hold_vcls;
    out_hcls = (M > 0 || head_out) ? h_hcls : hold_hcls;
    v_big = out_vcls == CW'(CLS - 1);
    h_big = out_hcls == CW'(CLS - 1);
    first_row = o_first;
    pop_frame = row_end && out_now && (head_out ? o_last : hold_h_one);
    // The counters' next values, from which the flags are worked out ahead.
    o_left_n = o_base - {15'd0, row_end && out_now};
    o_near = o_left <= 16'(M);
    hp_n = pop_frame ? !f_hp : f_hp;
    // o_last ahead, without comparing the next row number: a new head's is whether it is one row
    // high; a row further, whether this row was the one before the last.
    if (pop_frame) o_last_n = (start && f_tp == hp_n) ? hold_h_one : f_one[hp_n];
    else if (row_end && out_now) o_last_n = o_base == 16'd2;
    else if (start && f_n == '0) o_last_n = hold_h_one;
    else o_last_n = o_last;

    // The walkers: a frame's first output row (a row's first column) starts them from the size
    // class's table, every later one steps them: index q -> q + 1 reads at_n; the newest tap's
    // window position moves by at_n - at - 1.
    vw_at_n = vw_at;
    vw_up_n = vw_up;
    vw_pos_n = vw_pos;
    vw_in_n = vw_in;
    if (x0 && first_row) begin
      // The table's entry for the class: a select among constants.
      for (int c = 0; c < CLS; c++) begin
        if (out_vcls == CW'(c)) begin
          vw_at_n = START_AT[c*RW +: RW];
          vw_up_n = START_UP[c];
          vw_pos_n = START_POS[(c*NW + NW - 1)*PW +: PW];
          vw_in_n = START_IN[c*NW + NW - 1];
        end
      end
    end else if (v_big) begin
      // The newest row is past the end: zero reads nothing, replicate holds at the last row,
      // reflect101 walks back from it.
      if (BORDER == 2) vw_in_n = !o_near;
      else if (o_near) vw_pos_n = vw_pos - PW'((BORDER == 1) ? 1 : 2);
    end else if (BORDER == 2) begin
      // A small class is its side's last index; the index stops there.
      vw_in_n = vw_at < RW'(out_vcls);
      if (vw_in_n) vw_at_n = vw_at + RW'(1);
    end else if (BORDER == 1) begin
      if (vw_at == RW'(out_vcls)) vw_pos_n = vw_pos - PW'(1);
      else vw_at_n = vw_at + RW'(1);
    end else if (out_vcls == '0) begin
      vw_pos_n = vw_pos - PW'(1);
    end else begin
      // The turn is known from the index before the step (the last - 1 and 1 that it reaches).
      vw_at_n = vw_up ? vw_at + RW'(1) : vw_at - RW'(1);
      vw_up_n = vw_up ? vw_at != RW'(out_vcls - 1'b1) : vw_at == RW'(1);
      if (!vw_up) vw_pos_n = vw_pos - PW'(2);
    end

    hw_at_n = hw_at;
    hw_up_n = hw_up;
    hw_pos_n = hw_pos;
    hw_in_n = hw_in;
    if (x0) begin
      for (int c = 0; c < CLS; c++) begin
        if (out_hcls == CW'(c)) begin
          hw_at_n = START_AT[c*RW +: RW];
          hw_up_n = START_UP[c];
          hw_pos_n = START_POS[(c*NW + NW - 1)*PW +: PW];
          hw_in_n = START_IN[c*NW + NW - 1];
        end
      end
    end else if (h_big) begin
      // With one pixel a beat G = m: r < G says the newest column is past the row's end.
      if (BORDER == 2) hw_in_n = bt_r == GW'(G);
      else if (bt_r != GW'(G)) hw_pos_n = hw_pos - PW'((BORDER == 1) ? 1 : 2);
    end else if (BORDER == 2) begin
      hw_in_n = hw_at < RW'(out_hcls);
      if (hw_in_n) hw_at_n = hw_at + RW'(1);
    end else if (BORDER == 1) begin
      if (hw_at == RW'(out_hcls)) hw_pos_n = hw_pos - PW'(1);
      else hw_at_n = hw_at + RW'(1);
    end else if (out_hcls == '0) begin
      hw_pos_n = hw_pos - PW'(1);
    end else begin
      hw_at_n = hw_up ? hw_at + RW'(1) : hw_at - RW'(1);
      hw_up_n = hw_up ? hw_at != RW'(out_hcls - 1'b1) : hw_at == RW'(1);
      if (!hw_up) hw_pos_n = hw_pos - PW'(2);
    end
  end

  // What the slot carries: to the line buffers, to the rows' selects, to the output.
  logic t0_valid, t0_wr, t0_vload, t0_vstep, t0_vin;
  logic [AW-1:0] t0_addr;
  logic [BW-1:0] t0_pix;
  logic [CW-1:0] t0_vcls;
  logic [PW-1:0] t0_vpos;
  logic [KW-1:0] t0_k;

  always_comb begin
    t0_valid = fire;
    t0_wr = !push;
    t0_addr = st_xr;
    t0_pix = (in_now && !zero_fill) ? hold_data : '0;
    t0_vload = out_now && x0 && first_row;
    t0_vstep = out_now && x0 && !first_row;
    t0_vcls = out_vcls;
    t0_vpos = vw_pos_n;
    t0_vin = vw_in_n;
    t0_k = '0;
    t0_k[K_OUT] = out_now;
    t0_k[K_USER] = out_now && x0 && first_row;
    t0_k[K_LAST] = out_now && row_end;
    t0_k[K_LOAD] = out_now && x0;
    t0_k[K_STEP] = out_now && !x0;
    t0_k[K_IN] = hw_in_n;
    t0_k[K_CLS +: CW] = out_hcls;
    t0_k[K_POS +: PW] = hw_pos_n;
    t0_k[K_A +: GW] = (PPC > 1) ? st_a : '0;
    t0_k[K_R +: GW] = (PPC > 1) ? st_r : '0;
  end

  always_ff @(posedge clk) begin
    if (rst) begin
      in_active <= 1'b0;
      x0 <= 1'b1;
      f_hp <= 1'b0;
      f_tp <= 1'b0;
      f_n <= '0;
      o_left <= '0;
      o_first <= 1'b1;
      tail <= '0;
      owed <= 1'b0;
    end else if (fire) begin
      x0 <= push || row_end;            // a push holds the slot at x = 0
      // Read only past x = 0 (a row's end reloads the count).
      x_last <= st_xr == AW'(1);
      xr <= st_xr - AW'(1);
      bt_a <= (st_a == GW'(G)) ? st_a : st_a + 1'b1;
      bt_r <= (G == 0) ? '0 : (st_r != GW'(G)) ? st_r - 1'b1 : st_g ? GW'(G - 1) : st_r;
      o_last <= o_last_n;
      // The next head: the second entry once the head leaves a full queue, or a frame that starts
      // as the queue empties or is empty; in an empty queue the copy is never read.
      if (pop_frame ? f_n != 2'd2 : f_n == '0) begin
        h_vcls <= hold_vcls;
        h_hcls <= hold_hcls;
      end else if (pop_frame) begin
        h_vcls <= f_vcls[!f_hp];
        h_hcls <= f_hcls[!f_hp];
      end
      o_first <= pop_frame || (o_first && !(row_end && out_now));
      if (x0) begin
        row_in <= in_now;
        row_auto <= auto_now;
      end
      if (start) begin
        s_last <= hold_w1;
        s_r0 <= hold_r0;
        s_g0 <= hold_g0;
        s_one <= hold_w_one;
        in_active <= 1'b1;
        in_c <= 16'd2;
        s_h <= hold_h;
        in_final <= hold_h_one;
      end
      if (in_now && row_end) begin
        // in_final says whether this row is the frame's last, worked out a row ahead.
        if (start ? hold_h_one : in_final) begin
          in_active <= 1'b0;
        end else begin
          in_c <= start ? 16'd3 : in_c + 16'd1;
          in_final <= start ? hold_h_two : in_c == s_h;
        end
      end
      // A row's end counts the frames' waits down; a frame starts waiting m rows.
      for (int e = 0; e < 2; e++) begin
        if (start && f_tp == e[0]) begin
          f_h[e] <= hold_h;
          f_one[e] <= hold_h_one;
          f_vcls[e] <= hold_vcls;
          f_hcls[e] <= hold_hcls;
          f_wait[e] <= RW'((row_end && M > 0) ? M - 1 : M);
          f_ready[e] <= M == 0 || (M == 1 && row_end);
        end else if (row_end && f_wait[e] != '0) begin
          f_wait[e] <= f_wait[e] - 1'b1;
          f_ready[e] <= f_wait[e] == RW'(1);
        end
      end
      if (start) f_tp <= !f_tp;
      if (pop_frame) f_hp <= !f_hp;
      f_n <= f_n + {1'b0, start} - {1'b0, pop_frame};
      o_left <= o_left_n;
      if (out_now) tail <= RW'(G);
      else if (tail != '0) tail <= tail - 1'b1;
      owed <= f_n + {1'b0, start} - {1'b0, pop_frame} != '0 || (out_now ? G > 0 : tail != '0 && tail != RW'(1));
      if (out_now && x0) begin
        vw_at <= vw_at_n;
        vw_up <= vw_up_n;
        vw_pos <= vw_pos_n;
        vw_in <= vw_in_n;
      end
      if (out_now) begin
        hw_at <= hw_at_n;
        hw_up <= hw_up_n;
        hw_pos <= hw_pos_n;
        hw_in <= hw_in_n;
      end
    end
  end

  // -----------------------------------------------------------------------------------------------
  // Line buffers. Stage A: the slot's reads are in the block RAMs' output registers, and the column
  // E_0 .. E_2m (E_0 the pixel) is formed from them, forwarded from stage B where the slot before
  // wrote the same word on the clock edge of this slot's read; buffer k+1 is written with E_k as
  // stage A ends, so no write is pending longer than that. Stage B: E in registers.

  localparam int NQ = (NB > 0) ? NB : 1;
  logic ta_valid, ta_wr, ta_vload, ta_vstep, ta_vin, tb_valid;
  logic [AW-1:0] ta_addr;
  logic [BW-1:0] ta_pix;
  logic [CW-1:0] ta_vcls;
  logic [PW-1:0] ta_vpos;
  logic [KW-1:0] ta_k, tb_k;
  /* verilator lint_off UNDRIVEN */  // with one tap there are no line buffers
  logic [NQ*BW-1:0] ram_q;
  /* verilator lint_on UNDRIVEN */
  logic [NW*BW-1:0] ea, eb;
  logic fwd_a;                          // the read of stage A's slot missed B's write

  always_comb begin
    ea[0 +: BW] = ta_pix;
    for (int k = 1; k <= NB; k++) ea[k*BW +: BW] = fwd_a ? eb[(k-1)*BW +: BW] : ram_q[(k-1)*BW +: BW];
  end

  for (genvar k = 1; k <= NB; k++) begin : g_line
    (* no_rw_check *) logic [BW-1:0] mem [0:WBMAX-1];
    always_ff @(posedge clk) begin
      if (ta_valid && ta_wr) mem[ta_addr] <= ea[(k-1)*BW +: BW];
      if (ce) ram_q[(k-1)*BW +: BW] <= mem[t0_addr];
    end
  end

  always_ff @(posedge clk) begin
    if (rst) begin
      ta_valid <= 1'b0;
      tb_valid <= 1'b0;
    end else if (ce) begin
      ta_valid <= t0_valid;
      tb_valid <= ta_valid;
    end
    if (ce) begin
      ta_wr <= t0_wr;
      ta_addr <= t0_addr;
      ta_pix <= t0_pix;
      ta_vload <= t0_vload;
      ta_vstep <= t0_vstep;
      ta_vcls <= t0_vcls;
      ta_vpos <= t0_vpos;
      ta_vin <= t0_vin;
      ta_k <= t0_k;
      tb_k <= ta_k;
      fwd_a <= t0_valid && ta_valid && ta_wr && ta_addr == t0_addr;
      eb <= ea;
    end
  end

  // -----------------------------------------------------------------------------------------------
  // Vertical pass. Row selects follow the slot: loaded or stepped as its first token of a row
  // enters stage B. Stage C: the selected rows w; D: pre-added pairs u; E: the terms; then one
  // registered tree level a stage. Every element is its own register (generate blocks), wired into
  // arrays. The row selects move whole pixels; the arithmetic is one copy a channel.

  /* verilator lint_off UNUSEDSIGNAL */  // read by the neighbour below; row 0's by none
  logic [NW*NW-1:0] voh;
  logic [NW-1:0] vin;
  /* verilator lint_on UNUSEDSIGNAL */
  logic [LV+2:0] tv_valid;              // stages C, D, E and the tree levels
  logic [(LV+3)*KW-1:0] tv_k;
  /* verilator lint_off UNUSEDSIGNAL */  // an alpha channel reads only the centre row
  logic [BW-1:0] vw [0:NW-1];
  /* verilator lint_on UNUSEDSIGNAL */
  logic [PPC*CHANNELS*VW-1:0] vsum;

  for (genvar i = 0; i < NW; i++) begin : g_vrow
    // Row i of the window is line y - m + i, that is buffer 2m - i. Its position is one-hot over
    // the positions it can read (the others stay 0): a step is the neighbour's bits moved down
    // one, and the select an AND-OR, with no position to count down or decode.
    logic [NW-1:0] oh;
    logic in;
    logic [BW-1:0] w, acc;
    always_comb begin
      acc = '0;
      for (int p = 0; p < NW; p++) if (CAND[i*NW + p]) acc = acc | ({BW{oh[p]}} & eb[(NB-p)*BW +: BW]);
    end
    always_ff @(posedge clk) begin
      if (ce && ta_valid && ta_vload) begin
        for (int c = 0; c < CLS; c++) begin
          if (ta_vcls == CW'(c)) begin
            for (int p = 0; p < NW; p++) oh[p] <= CAND[i*NW + p] && START_POS[(c*NW + i)*PW +: PW] == PW'(p);
            in <= START_IN[c*NW + i];
          end
        end
      end else if (ce && ta_valid && ta_vstep) begin
        for (int p = 0; p < NW; p++)
          oh[p] <= CAND[i*NW + p] && ((BORDER == 2) ? p == i : (i == NW - 1) ? ta_vpos == PW'(p)
                                                             : p < NW - 1 && voh[((i+1) % NW)*NW + (p+1) % NW]);
        in <= (i == NW - 1) ? ta_vin : vin[(i+1) % NW];
      end
      if (ce) w <= (BORDER == 2 && !in) ? '0 : acc;
    end
    assign voh[i*NW +: NW] = oh;
    assign vin[i] = in;
    assign vw[i] = w;
  end

  // One copy a channel of every pixel of the beat: lane ln is channel ln % CHANNELS.
  for (genvar ln = 0; ln < PPC * CHANNELS; ln++) begin : g_vch
    localparam int CH = ln % CHANNELS;
    if (ALPHA != 0 && CH == CHANNELS - 1) begin : g_alpha
      // The centre row, as many stages as a sum takes, then as the sum of a lone centre tap.
      logic [(LV+2)*P-1:0] d;
      always_ff @(posedge clk) begin
        if (ce) d <= {d[(LV+1)*P-1:0], vw[M][ln*P +: P]};
      end
      assign vsum[ln*VW +: VW] = VW'(d[(LV+2)*P-1 -: P]) << SHIFT;
    end else begin : g_sum
      logic [P:0] vu [0:M];
      // Each level fills only its first nodes. One spare element: Icarus 11 aborts on an array of
      // one element (a single term, no tree) wired to a register.
      /* verilator lint_off UNUSEDSIGNAL */
      logic [TWV-1:0] vt [0:(LV+1)*TV];
      /* verilator lint_on UNUSEDSIGNAL */
      assign vt[(LV+1)*TV] = '0;
      for (genvar k = 0; k <= M; k++) begin : g_vpair
        logic [P:0] u;
        always_ff @(posedge clk) begin
          if (ce) u <= (k == M) ? {1'b0, vw[k][ln*P +: P]}
                     : (tap(k) != 0) ? {1'b0, vw[k][ln*P +: P]} + {1'b0, vw[NB-k][ln*P +: P]} : '0;
        end
        assign vu[k] = u;
      end

      for (genvar t = 0; t < TV; t++) begin : g_vterm
        localparam int K = 32'(TERM_TAP[8*t +: 8]);
        logic [TWV-1:0] q;
        always_ff @(posedge clk) begin
          if (ce) q <= TWV'(vu[K]) << TERM_SHIFT[8*t +: 8];
        end
        assign vt[t] = q;
      end

      for (genvar l = 0; l < LV; l++) begin : g_vlevel
        for (genvar i = 0; i < nodes(TV, l + 1); i++) begin : g_node
          localparam logic [1:0] KIND = VNODE[2*(TH*l + i) +: 2];
          localparam int A = l*TV + 2*i;
          localparam int B = (KIND == 2'd0) ? A : l*TV + 2*i + 1;
          logic [TWV-1:0] q;
          always_ff @(posedge clk) begin
            if (ce) begin
              case (KIND)
                2'd1: q <= vt[A] + vt[B];
                2'd2: q <= vt[B] - vt[A];
                2'd3: q <= vt[A] - vt[B];
                default: q <= vt[A];
              endcase
            end
          end
          assign vt[(l+1)*TV + i] = q;
        end
        // The places no node of this level fills.
        for (genvar i = nodes(TV, l + 1); i < TV; i++) begin : g_unused
          assign vt[(l+1)*TV + i] = '0;
        end
      end
      assign vsum[ln*VW +: VW] = VW'(vt[LV*TV]);
    end
  end

  always_ff @(posedge clk) begin
    if (rst) begin
      tv_valid <= '0;
    end else if (ce) begin
      tv_valid <= {tv_valid[LV+1:0], tb_valid};
    end
    if (ce) tv_k <= {tv_k[(LV+2)*KW-1:0], tb_k};
  end

  // -----------------------------------------------------------------------------------------------
  // Horizontal pass. The window holds the sums of the last 2G+1 slots; the one in its middle is
  // output once, when it arrives there, with each tap's column selected by border as for rows.
  // One pixel a beat, the columns follow a walker as the rows do; several, a table by the beat's
  // state. The sums of a beat are shared by the PPC outputs that read them.

  logic new_valid, fresh_mid;
  logic [KW-1:0] new_k;
  /* verilator lint_off UNUSEDSIGNAL */  // the walkers' fields, or the beat's state, by PPC
  logic [KW-1:0] mid_k;
  /* verilator lint_on UNUSEDSIGNAL */
  logic [PPC*CHANNELS*VW-1:0] hwin [0:NWH-1];
  logic [NWH-1:0] hs_valid;             // the window's slots
  logic [NWH*KW-1:0] hs_k;
  logic [LH+2:0] th_valid;              // stages H1 (selected), H2 (pre-added), H3, the tree levels
  logic [(LH+3)*2-1:0] th_k;            // output pixel flags: tuser, tlast
  /* verilator lint_off UNUSEDSIGNAL */  // an alpha channel reads only the centre's top bits
  logic [CHANNELS*VW-1:0] hw [0:PPC*NW-1];  // tap j of pixel l at l*NW + j
  /* verilator lint_on UNUSEDSIGNAL */
  logic [BW-1:0] result;

  assign new_valid = tv_valid[LV+2];
  assign new_k = tv_k[(LV+2)*KW +: KW];
  // The slot that becomes the middle one with the next shift sets the columns for it.
  assign mid_k = (G == 0) ? new_k : hs_k[((G == 0) ? 0 : G + 1)*KW +: KW];

  always_ff @(posedge clk) begin
    if (rst) begin
      hs_valid <= '0;
      fresh_mid <= 1'b0;
    end else if (ce) begin
      fresh_mid <= new_valid;
      if (new_valid) begin
        for (int j = 0; j < NWH - 1; j++) hs_valid[j] <= hs_valid[j+1];
        hs_valid[NWH-1] <= 1'b1;
      end
    end
  end

  for (genvar j = 0; j < NWH; j++) begin : g_hslot
    logic [PPC*CHANNELS*VW-1:0] win;
    logic [KW-1:0] slot;
    always_ff @(posedge clk) begin
      if (ce && new_valid) begin
        win <= (j == NWH - 1) ? vsum : hwin[(j+1) % NWH];
        slot <= (j == NWH - 1) ? new_k : hs_k[((j+1) % NWH)*KW +: KW];
      end
    end
    assign hwin[j] = win;
    assign hs_k[j*KW +: KW] = slot;
  end

  if (PPC == 1) begin : g_narrow
    /* verilator lint_off UNUSEDSIGNAL */  // read by the neighbour to the left; column 0's by none
    logic [NW*NW-1:0] hoh;
    logic [NW-1:0] hin;
    /* verilator lint_on UNUSEDSIGNAL */
    for (genvar j = 0; j < NW; j++) begin : g_hcol
      // One-hot positions, as for rows.
      logic [CHANNELS*VW-1:0] w, acc;
      logic [NW-1:0] oh;
      logic in;
      always_comb begin
        acc = '0;
        for (int p = 0; p < NW; p++) if (CAND[j*NW + p]) acc = acc | ({CHANNELS*VW{oh[p]}} & hwin[p]);
      end
      always_ff @(posedge clk) begin
        if (ce && new_valid) begin
          if (mid_k[K_LOAD]) begin
            for (int c = 0; c < CLS; c++) begin
              if (mid_k[K_CLS +: CW] == CW'(c)) begin
                for (int p = 0; p < NW; p++) oh[p] <= CAND[j*NW + p] && START_POS[(c*NW + j)*PW +: PW] == PW'(p);
                in <= START_IN[c*NW + j];
              end
            end
          end else if (mid_k[K_STEP]) begin
            for (int p = 0; p < NW; p++)
              oh[p] <= CAND[j*NW + p] && ((BORDER == 2) ? p == j : (j == NW - 1) ? mid_k[K_POS +: PW] == PW'(p)
                                                                 : p < NW - 1 && hoh[((j+1) % NW)*NW + (p+1) % NW]);
            in <= (j == NW - 1) ? mid_k[K_IN] : hin[(j+1) % NW];
          end
        end
        if (ce) w <= (BORDER == 2 && !in) ? '0 : acc;
      end
      assign hoh[j*NW +: NW] = oh;
      assign hin[j] = in;
      assign hw[j] = w;
    end
  end else begin : g_wide
    // Element e of the window, every channel.
    logic [CHANNELS*VW-1:0] el [0:NE-1];
    for (genvar e = 0; e < NE; e++) begin : g_el
      localparam int F = G * PPC - M + e;
      assign el[e] = hwin[F / PPC][(F % PPC)*CHANNELS*VW +: CHANNELS*VW];
    end
    for (genvar l = 0; l < PPC; l++) begin : g_hpix
      for (genvar j = 0; j < NW; j++) begin : g_hcol
        logic [CHANNELS*VW-1:0] w;
        logic [EW-1:0] sel;
        logic in;
        always_ff @(posedge clk) begin
          if (ce && new_valid) begin
            for (int st = 0; st < NST; st++) begin
              if (mid_k[K_A +: GW] == GW'(st / (G + 1)) && mid_k[K_R +: GW] == GW'(st % (G + 1))) begin
                sel <= WIDE_SEL[((st*PPC + l)*NW + j)*EW +: EW];
                in <= WIDE_IN[(st*PPC + l)*NW + j];
              end
            end
          end
          if (ce) begin
            w <= '0;
            for (int e = 0; e < NE; e++) if (WIDE_CAND[(l*NW + j)*NE + e] && sel == EW'(e) && (BORDER == 2 ? in : 1'b1)) w <= el[e];
          end
        end
        assign hw[l*NW + j] = w;
      end
    end
  end

  // One copy a channel of every output pixel: lane ln is channel ln % CHANNELS of pixel
  // ln / CHANNELS.
  for (genvar ln = 0; ln < PPC * CHANNELS; ln++) begin : g_hch
    localparam int CH = ln % CHANNELS;
    localparam int PIX = ln / CHANNELS;
    if (ALPHA != 0 && CH == CHANNELS - 1) begin : g_alpha
      // The centre column's pixel, back from its sum, as many stages as a result takes.
      logic [(LH+2)*P-1:0] d;
      always_ff @(posedge clk) begin
        if (ce) d <= {d[(LH+1)*P-1:0], hw[PIX*NW + M][CH*VW + VW-1 -: P]};
      end
      assign result[ln*P +: P] = d[(LH+2)*P-1 -: P];
    end else begin : g_sum
      logic [VW:0] hu [0:M];
      /* verilator lint_off UNUSEDSIGNAL */  // as vt
      logic [TWH-1:0] ht [0:(LH+1)*TH];
      /* verilator lint_on UNUSEDSIGNAL */
      assign ht[(LH+1)*TH] = '0;
      for (genvar k = 0; k <= M; k++) begin : g_hpair
        logic [VW:0] u;
        always_ff @(posedge clk) begin
          if (ce) u <= (k == M) ? {1'b0, hw[PIX*NW + k][CH*VW +: VW]}
                     : (tap(k) != 0) ? {1'b0, hw[PIX*NW + k][CH*VW +: VW]} + {1'b0, hw[PIX*NW + NB-k][CH*VW +: VW]} : '0;
        end
        assign hu[k] = u;
      end

      for (genvar t = 0; t < TH; t++) begin : g_hterm
        localparam int K = 32'(TERM_TAP[8*t +: 8]);
        logic [TWH-1:0] q;
        always_ff @(posedge clk) begin
          if (ce) q <= (t == TV) ? TWH'(1) << ((SHIFT > 0) ? 2 * SHIFT - 1 : 0)
                                 : TWH'(hu[K]) << TERM_SHIFT[8*t +: 8];
        end
        assign ht[t] = q;
      end

      for (genvar l = 0; l < LH; l++) begin : g_hlevel
        for (genvar i = 0; i < nodes(TH, l + 1); i++) begin : g_node
          localparam logic [1:0] KIND = HNODE[2*(TH*l + i) +: 2];
          localparam int A = l*TH + 2*i;
          localparam int B = (KIND == 2'd0) ? A : l*TH + 2*i + 1;
          logic [TWH-1:0] q;
          always_ff @(posedge clk) begin
            if (ce) begin
              case (KIND)
                2'd1: q <= ht[A] + ht[B];
                2'd2: q <= ht[B] - ht[A];
                2'd3: q <= ht[A] - ht[B];
                default: q <= ht[A];
              endcase
            end
          end
          assign ht[(l+1)*TH + i] = q;
        end
        for (genvar i = nodes(TH, l + 1); i < TH; i++) begin : g_unused
          assign ht[(l+1)*TH + i] = '0;
        end
      end
      assign result[ln*P +: P] = ht[LH*TH][HW-1 -: P];
    end
  end

  always_ff @(posedge clk) begin
    if (rst) begin
      th_valid <= '0;
    end else if (ce) begin
      th_valid <= {th_valid[LH+1:0], fresh_mid && hs_valid[G] && hs_k[G*KW + K_OUT]};
    end
    if (ce) th_k <= {th_k[(LH+2)*2-1:0], hs_k[G*KW + K_USER], hs_k[G*KW + K_LAST]};
  end

  // -----------------------------------------------------------------------------------------------
  // Output register and skid buffer. The pipeline runs while the skid buffer is empty; a result
  // that finds the output register full and not taken waits there.

  logic out_valid, out_user, out_last_col;
  // The skid buffer's flag is kept as "empty", the clock enable itself: an inverted enable costs
  // an inverter at every flip-flop on some families (Yosys's xc7 mapping).
  logic o_valid, k_empty;
  logic [BW+1:0] o_beat, k_beat;
  logic o_pop;

  assign out_valid = th_valid[LH+2];
  assign {out_user, out_last_col} = th_k[(LH+2)*2 +: 2];
  assign ce = k_empty;
  assign o_pop = o_valid && m_axis_tready;
  assign m_axis_tvalid = o_valid;
  assign {m_axis_tuser, m_axis_tlast, m_axis_tdata} = o_beat;

  always_ff @(posedge clk) begin
    if (rst) begin
      o_valid <= 1'b0;
      k_empty <= 1'b1;
    end else if (!k_empty) begin
      if (o_pop) begin
        o_beat <= k_beat;
        k_empty <= 1'b1;
      end
    end else if (!o_valid || o_pop) begin
      o_valid <= out_valid;
      o_beat <= {out_user, out_last_col, result};
    end else if (out_valid) begin
      k_empty <= 1'b0;
      k_beat <= {out_user, out_last_col, result};
    end
  end

endmodule
