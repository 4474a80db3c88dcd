-- SPDX-License-Identifier: MIT
--
-- tapsmith_blur: a streaming separable Gaussian filter over AXI4-Stream video, 1 to 8 pixels a clock,
-- without multipliers. The same design is written in SystemVerilog (tapsmith_blur.sv): the same
-- stages, registers and handshake, so that both give the same beats on the same cycles.
--
-- Every output pixel is
--   (sum over i, j of t_i * t_j * p(x + j - m, y + i - m) + 2^(2*SHIFT-1)) >> (2*SHIFT),
-- with t the N taps of TAPS (symmetric, summing to 2^SHIFT) and
-- m = (N-1)/2: exact, a vertical pass of P + SHIFT bits, then a horizontal pass of P + 2*SHIFT
-- bits, and the only rounding (half up) at the very end. Outside the image an index reads by
-- BORDER: 0 reflect101 (folded as often as needed), 1 replicate, 2 zero.
--
-- A pixel has CHANNELS components of P bits (1 to 4), channel 0 in the low bits of a beat's
-- tdata: grey is 1, RGB 3, RGBA 4. Every channel is filtered on its own, as the golden model
-- does, with one line-buffer word and one set of row and column selects for all of them. With
-- ALPHA = 1 the last channel is alpha: it leaves as it came, delayed to stay with its pixel.
--
-- A beat carries PPC pixels (1, 2, 4 or 8) of a line, pixel 0 in the low bits: channel ch of pixel
-- l is tdata bits (l*CHANNELS + ch)*P and up. A frame's width must be a multiple of PPC. A beat is
-- one line-buffer word, the beat's pixels share the row selects, and the horizontal pass reads the
-- columns of all of them from one window of the beats' vertical sums.
--
-- Frame protocol
--   1. A beat with s_axis_tuser = 1 starts a frame; width and height are taken from that beat
--      only. Beats outside a frame (before the first start, or after a frame's W*H/PPC beats and
--      before the next start) are taken and thrown away. s_axis_tlast is not looked at.
--   2. A start of frame that arrives before the current frame has its W*H/PPC beats ends that
--      frame early: the core keeps the beat, fills the missing pixels with 0 on its own while
--      s_axis_tready is low, then opens the new frame with it.
--   3. A frame announced with width 0, height 0, width > MAX_WIDTH or a width that is not a
--      multiple of PPC yields nothing; its beats are thrown away like those of rule 1.
--   4. Each frame leaves as W*H/PPC beats in raster order, m_axis_tuser on its first beat and
--      m_axis_tlast on the last beat of each line.
--
-- Timing
--   The core works in slots, at most one a clock: a slot reads one column (a beat's worth) of the
--   line buffers and writes the input beat there. A line's slots go row after row in one stream: the rows of a
--   frame, then its last m rows again as flush rows, which output the frame's last m lines. A
--   frame whose width equals the previous one's starts right after that frame's input, its first
--   m rows sharing their slots with the previous frame's flush rows; so back-to-back W x H frames
--   take exactly W*H/PPC cycles each (c = 0), and s_axis_tready stays high inside and across lines and
--   frames while m_axis_tready is high. With no next frame, the flush rows run on their own: a
--   frame's last lines come out without waiting for another. Once a next frame has started, its
--   first m rows and the previous frame's last m lines move together. A frame of another width
--   waits until the previous one has left. Latency: at full rate, output beat k of a frame leaves
--   11 + LV + LH cycles after input beat k + m*WB + G was taken (past the frame's end, counting on
--   into the next frame's beats or the flush rows' cycles), WB = W/PPC the beats a line, G =
--   ceil(m/PPC) the beats the window reaches either side, LV and LH the depths of the two
--   adder trees: ceil(log2) of the terms a pass sums, one per signed digit of t_0 .. t_m (and,
--   horizontally, the rounding constant). 17 cycles (+ 2W + 2) for the default 5 taps, one
--   pixel a beat.
--
-- Micro-architecture
--
--            +----------+  addr x   +--------------------+   E_0 .. E_2m   +--------------+
--   s_axis ->| hold reg |---------->| 2m line buffers    |---------------->| row select   |
--            | + slot   |  pixel    | (block RAM), rows  |  (forwarded     | per tap from |
--            | sequencer|---------->| shift down one     |   when W is     | the column,  |
--            +----------+           | buffer per row     |   tiny)         | by border    |
--                                   +--------------------+                 +------+-------+
--                                                                                 | w_0 .. w_2m
--   +------------------+   +---------------------------+   +----------------------v-------+
--   | output reg + skid|<--| horizontal: pre-add pairs,|<--| vertical: pre-add pairs,      |
--   | (clock enable    |   | shift-and-add over signed |   | shift-and-add over each tap's |
--   |  = skid empty)   |   | digits, adder tree, round |   | signed digits, adder tree     |
--   +------------------+   +-------------^-------------+   +--------------+---------------+
--                                        | column select by border         | v (P + SHIFT bits)
--                                        +--- window of 2m+1 sums <--------+
--
--   - The 2m line buffers hold the last 2m rows of the stream at column x: a slot reads them all,
--     and one cycle later writes buffer 1 with the pixel and buffer k+1 with what buffer k held,
--     so rows shift down a buffer per row; no buffer index ever selects a tap's row. A read of a
--     column whose write is still pending takes the pending data instead (lines of width 1, 2).
--   - Borders: per output row (and column) each tap's source among the 2m+1 rows (sums) of the
--     window is a small register, loaded from a table by the frame's size at the first row and
--     shifted down with one new entry from a walker per row; a tap selects only among the
--     positions it can ever need. The walker steps an index only on sides of at most m + 1; on
--     a larger side the newest tap folds once, at the far end, told by the rows (beats) left,
--     which the sequencer counts down. With several pixels a beat, the window holds 2G+1 beats and
--     tap j of pixel l selects among the PPC + 2m sums around the middle beat by a table, indexed
--     by how near the beat is to either end of its line: min(b, G) and min(WB-1-b, G) for beat b.
--   - Arithmetic: symmetric taps, so mirrored samples are added first (PRE_ADDS); each product is
--     shifts and adds over the tap's canonical signed digits (DIGIT_ADDERS), summed with the
--     others in one tree (TREE_ADDERS); every tree level is registered. No multiplier.
--   - Handshake: one clock enable for the whole pipeline, the registered "output skid buffer
--     empty": m_axis_tready reaches only the output registers.

library ieee;
use ieee.std_logic_1164.all;
use ieee.numeric_std.all;

entity tapsmith_blur is
  generic (
    N         : natural        := 5;
    SHIFT     : natural        := 8;
    TAPS      : integer_vector := (14, 62, 104, 62, 14);
    P         : natural        := 8;
    MAX_WIDTH : natural        := 1920;
    BORDER    : natural        := 0;      -- 0 reflect101, 1 replicate, 2 zero
    CHANNELS  : natural        := 1;      -- components a pixel, channel 0 in the low bits
    ALPHA     : natural        := 0;      -- 1: the last channel passes through unfiltered
    PPC       : natural        := 1);     -- pixels a beat (1, 2, 4 or 8), pixel 0 in the low bits
  port (
    clk, rst      : in  std_logic;        -- rst synchronous, active high
    width, height : in  std_logic_vector(15 downto 0);
    s_axis_tvalid : in  std_logic;
    s_axis_tready : out std_logic;
    s_axis_tdata  : in  std_logic_vector(PPC * CHANNELS * P - 1 downto 0);
    s_axis_tuser  : in  std_logic;
    s_axis_tlast  : in  std_logic;
    m_axis_tvalid : out std_logic;
    m_axis_tready : in  std_logic;
    m_axis_tdata  : out std_logic_vector(PPC * CHANNELS * P - 1 downto 0);
    m_axis_tuser  : out std_logic;
    m_axis_tlast  : out std_logic);
end entity tapsmith_blur;

architecture rtl of tapsmith_blur is

  ---------------------------------------------------------------------------------------------------
  -- Sizes and the taps' arithmetic, worked out at elaboration.

  function clog2(v : natural) return natural is
    variable cnt : natural := 0;
  begin
    while 2 ** cnt < v loop
      cnt := cnt + 1;
    end loop;
    return cnt;
  end function;

  function max(a, b : natural) return natural is
  begin
    if a > b then
      return a;
    end if;
    return b;
  end function;

  constant M   : natural := (N - 1) / 2;
  constant NW  : natural := 2 * M + 1;                 -- window rows (columns)
  constant NB  : natural := 2 * M;                     -- line buffers
  constant CP  : natural := CHANNELS * P;              -- a pixel, every channel
  constant BW  : natural := PPC * CP;                  -- a beat
  constant LPPC  : natural := clog2(PPC);
  constant WBMAX : natural := (MAX_WIDTH + PPC - 1) / PPC;  -- beats in the widest row
  constant AW  : natural := max(clog2(WBMAX), 1);
  -- The horizontal window, in beats: the middle one and G either side, G = ceil(m / PPC). Of its
  -- pixels the PPC + 2m around the middle beat's can be read: element e is pixel G*PPC - m + e of
  -- the window.
  constant G   : natural := (M + PPC - 1) / PPC;
  constant NWH : natural := 2 * G + 1;
  constant NE  : natural := PPC + 2 * M;
  constant EW  : natural := max(clog2(NE), 1);
  constant GW  : natural := max(clog2(G + 1), 1);      -- 0 .. G
  constant NS  : natural := (G + 1) * (G + 1);         -- beat states (a, r)
  constant VSUM_W  : natural := P + SHIFT;                 -- vertical sums
  constant HSUM_W  : natural := P + 2 * SHIFT;             -- horizontal sums
  constant PW  : natural := max(clog2(NW), 1);         -- a window position
  constant CLS : natural := M + 2;                     -- size classes 1 .. m+2
  constant CW  : natural := clog2(CLS + 1);
  -- The trees add and subtract modulo 2^VSUM_W (2^HSUM_W): a pass's true total lies in
  -- [0, 2^VSUM_W), so its low bits are exact whatever the partial sums' signs, and no node needs
  -- headroom.
  constant TWV : natural := VSUM_W;                        -- vertical tree
  constant TWH : natural := HSUM_W;                        -- horizontal tree
  constant RW  : natural := clog2(M + 2);              -- 0 .. m+1

  function bool_bit(b : boolean) return std_logic is
  begin
    if b then
      return '1';
    end if;
    return '0';
  end function;

  function bit_of(e : natural) return std_logic is
  begin
    return bool_bit(e = 1);
  end function;

  function tap(k : natural) return natural is
  begin
    return TAPS(TAPS'low + k);
  end function;

  -- Non-zero digits of v's non-adjacent form (its canonical signed digits).
  function digits(value : natural) return natural is
    variable v, cnt : natural := 0;
  begin
    v := value;
    while v /= 0 loop
      if v mod 2 /= 0 then
        if v mod 4 = 3 then
          v := v + 1;
        else
          v := v - 1;
        end if;
        cnt := cnt + 1;
      end if;
      v := v / 2;
    end loop;
    return cnt;
  end function;

  function nonzero_taps(upto : integer) return natural is
    variable cnt : natural := 0;
  begin
    for k in 0 to upto loop
      if tap(k) /= 0 then
        cnt := cnt + 1;
      end if;
    end loop;
    return cnt;
  end function;

  function count_digit_adders return natural is
    variable cnt : natural := 0;
  begin
    for k in 0 to M loop
      if tap(k) /= 0 then
        cnt := cnt + digits(tap(k)) - 1;
      end if;
    end loop;
    return cnt;
  end function;

  function term_count return natural is
    variable cnt : natural := 0;
  begin
    for k in 0 to M loop
      cnt := cnt + digits(tap(k));
    end loop;
    return cnt;
  end function;

  -- The adder plan of one pass, as tapsmith-fixed counts it (for testbenches and reports).
  constant PRE_ADDS        : natural := nonzero_taps(M - 1);
  constant DIGIT_ADDERS    : natural := count_digit_adders;
  constant TREE_ADDERS     : natural := nonzero_taps(M) - 1;
  constant ADDERS_PER_PASS : natural := PRE_ADDS + DIGIT_ADDERS + TREE_ADDERS;

  -- The terms a pass sums: one per signed digit of each distinct tap k = 0 .. m (tap k pairs
  -- window rows k and 2m - k; k = m is the centre): the tap, negative or not, the shift.
  constant TV : natural := term_count;
  constant TH : natural := TV + boolean'pos(SHIFT > 0);  -- and the rounding constant
  constant LV : natural := clog2(TV);
  constant LH : natural := clog2(TH);

  type nat_table is array (natural range <>) of natural;

  function term_table(what : natural) return nat_table is
    variable t : nat_table(0 to TH - 1) := (others => 0);
    variable idx, v, s : natural;
  begin
    idx := 0;
    for k in 0 to M loop
      v := tap(k);
      s := 0;
      while v /= 0 loop
        if v mod 2 /= 0 then
          case what is
            when 0 => t(idx) := k;
            when 1 => t(idx) := boolean'pos(v mod 4 = 3);
            when others => t(idx) := s;
          end case;
          idx := idx + 1;
          if v mod 4 = 3 then
            v := v + 1;
          else
            v := v - 1;
          end if;
        end if;
        v := v / 2;
        s := s + 1;
      end loop;
    end loop;
    return t;
  end function;

  constant TERM_TAP   : nat_table(0 to TH - 1) := term_table(0);
  constant TERM_NEG   : nat_table(0 to TH - 1) := term_table(1);
  constant TERM_SHIFT : nat_table(0 to TH - 1) := term_table(2);

  function nodes(count, l : natural) return natural is
  begin
    return (count + 2 ** l - 1) / 2 ** l;
  end function;

  -- A tree node at level l, index i covers terms i*2^l .. (i+1)*2^l - 1; it holds their sum
  -- negated when all of them are negative, so that every node is one adder or subtractor. The
  -- rounding term (index TV) is positive.
  function node_neg(count, l, i : natural) return boolean is
  begin
    for t in i * 2 ** l to (i + 1) * 2 ** l - 1 loop
      if t < count and (t >= TV or TERM_NEG(t) = 0) then
        return false;
      end if;
    end loop;
    return true;
  end function;

  -- A node's kind: 0 passes its one child on, 1 adds, 2 subtracts the left child from the right,
  -- 3 the right from the left.
  function node_kind(count, l, i : natural) return natural is
  begin
    if 2 * i + 1 >= nodes(count, l) then
      return 0;
    elsif node_neg(count, l, 2 * i) = node_neg(count, l, 2 * i + 1) then
      return 1;
    elsif node_neg(count, l, 2 * i) then
      return 2;
    end if;
    return 3;
  end function;

  -- Borders. Index q of a line of `size` reads fold(q, size) (reflect101, replicate); window
  -- position p (0 .. 2m) of output line y holds line y - m + p.
  function fold(index, size : integer) return integer is
    variable q : integer := index;
  begin
    if BORDER = 1 then
      if q < 0 then
        return 0;
      elsif q > size - 1 then
        return size - 1;
      end if;
      return q;
    elsif size = 1 then
      return 0;
    end if;
    while q < 0 or q > size - 1 loop
      if q < 0 then
        q := -q;
      else
        q := 2 * size - 2 - q;
      end if;
    end loop;
    return q;
  end function;

  -- Can tap i of a window ever read position pos? reflect101 keeps p's parity and distance from the
  -- centre (and a line of one row sends everything to the centre); replicate moves towards the
  -- centre; zero never moves.
  function cand(i, pos : natural) return boolean is
    constant di : natural := abs (i - M);
    constant dp : natural := abs (pos - M);
  begin
    if BORDER = 2 then
      return pos = i;
    elsif BORDER = 1 then
      if i <= M then
        return pos >= i and pos <= M;
      end if;
      return pos >= M and pos <= i;
    end if;
    return pos = M or (dp <= di and (pos - i) mod 2 = 0);
  end function;

  -- The first output line (column) of a frame of size class c (1 .. m+1 the size itself, m+2 any
  -- larger; 0-based in the tables): each tap's position and whether it reads inside, and the
  -- walker's start for index m.
  function first_pos(c, i : natural) return natural is
  begin
    if BORDER = 2 then
      return i;
    end if;
    return fold(i - M, c) + M;
  end function;

  function first_in(c, i : natural) return boolean is
  begin
    return BORDER /= 2 or (i >= M and i - M <= c - 1);
  end function;

  function first_at(c : natural) return natural is
  begin
    if BORDER = 2 then
      return M;
    end if;
    return fold(M, c);
  end function;

  -- reflect101's walker direction at index m, after walking there from index 0.
  function first_up(c : natural) return boolean is
    variable w  : natural := 0;
    variable up : boolean := true;
  begin
    if c > 1 then
      for q in 0 to M - 1 loop
        if up then
          w := w + 1;
        else
          w := w - 1;
        end if;
        if w = c - 1 then
          up := false;
        elsif w = 0 then
          up := true;
        end if;
      end loop;
    end if;
    return up;
  end function;

  subtype pos_t is unsigned(PW - 1 downto 0);
  subtype cls_t is unsigned(CW - 1 downto 0);
  type pos_array is array (natural range <>) of pos_t;
  type bool_array is array (natural range <>) of boolean;

  function pos_table return pos_array is
    variable t : pos_array(0 to CLS * NW - 1);
  begin
    for c in 1 to CLS loop
      for i in 0 to NW - 1 loop
        t((c - 1) * NW + i) := to_unsigned(first_pos(c, i), PW);
      end loop;
    end loop;
    return t;
  end function;

  function in_table return std_logic_vector is
    variable t : std_logic_vector(0 to CLS * NW - 1);
  begin
    for c in 1 to CLS loop
      for i in 0 to NW - 1 loop
        t((c - 1) * NW + i) := bool_bit(first_in(c, i));
      end loop;
    end loop;
    return t;
  end function;

  function at_table return nat_table is
    variable t : nat_table(0 to CLS - 1);
  begin
    for c in 1 to CLS loop
      t(c - 1) := first_at(c);
    end loop;
    return t;
  end function;

  function up_table return std_logic_vector is
    variable t : std_logic_vector(0 to CLS - 1);
  begin
    for c in 1 to CLS loop
      t(c - 1) := bool_bit(first_up(c));
    end loop;
    return t;
  end function;

  function cand_table return bool_array is
    variable t : bool_array(0 to NW * NW - 1);
  begin
    for i in 0 to NW - 1 loop
      for j in 0 to NW - 1 loop
        t(i * NW + j) := cand(i, j);
      end loop;
    end loop;
    return t;
  end function;

  constant START_POS : pos_array(0 to CLS * NW - 1)         := pos_table;
  constant START_IN  : std_logic_vector(0 to CLS * NW - 1)  := in_table;
  constant START_AT  : nat_table(0 to CLS - 1)              := at_table;
  constant START_UP  : std_logic_vector(0 to CLS - 1)       := up_table;
  constant CAND_OK   : bool_array(0 to NW * NW - 1)         := cand_table;

  -- Several pixels a beat: what tap j of the beat's pixel l reads depends only on the beat's state
  -- (a, r) = (min(b, G), min(WB - 1 - b, G)), b the beat in a row of WB beats. Further from both
  -- ends than G beats no tap reaches past the row; nearer, a and r give b and WB exactly, or the
  -- one end within reach and that a single fold there. State s = a * (G + 1) + r stands for beat a
  -- of a row of a + r + 1 beats. Each entry: the element read and whether it is inside.
  function wide_sel(s, l, j : natural) return natural is
    constant x : natural := (s / (G + 1)) * PPC + l;
    constant w : natural := (s / (G + 1) + s mod (G + 1) + 1) * PPC;
  begin
    if BORDER = 2 then
      return l + j;
    end if;
    return fold(x - M + j, w) - x + l + M;
  end function;

  function wide_in(s, l, j : natural) return boolean is
    constant x : natural := (s / (G + 1)) * PPC + l;
    constant w : natural := (s / (G + 1) + s mod (G + 1) + 1) * PPC;
  begin
    return BORDER /= 2 or (x + j >= M and x + j - M < w);
  end function;

  subtype el_t is unsigned(EW - 1 downto 0);
  type el_array is array (natural range <>) of el_t;

  -- The states tabled: one pixel a beat walks instead and needs none.
  function tabled_states return natural is
  begin
    if PPC > 1 then
      return NS;
    end if;
    return 1;
  end function;
  constant NST : natural := tabled_states;

  function wide_sel_table return el_array is
    variable t : el_array(0 to NST * PPC * NW - 1);
  begin
    for s in 0 to NST - 1 loop
      for l in 0 to PPC - 1 loop
        for j in 0 to NW - 1 loop
          t((s * PPC + l) * NW + j) := to_unsigned(wide_sel(s, l, j), EW);
        end loop;
      end loop;
    end loop;
    return t;
  end function;

  function wide_in_table return std_logic_vector is
    variable t : std_logic_vector(0 to NST * PPC * NW - 1);
  begin
    for s in 0 to NST - 1 loop
      for l in 0 to PPC - 1 loop
        for j in 0 to NW - 1 loop
          t((s * PPC + l) * NW + j) := bool_bit(wide_in(s, l, j));
        end loop;
      end loop;
    end loop;
    return t;
  end function;

  -- The elements tap j of pixel l can ever read.
  function wide_cand_table return bool_array is
    variable t : bool_array(0 to PPC * NW * NE - 1) := (others => false);
  begin
    for s in 0 to NST - 1 loop
      for l in 0 to PPC - 1 loop
        for j in 0 to NW - 1 loop
          if wide_in(s, l, j) then
            t((l * NW + j) * NE + wide_sel(s, l, j)) := true;
          end if;
        end loop;
      end loop;
    end loop;
    return t;
  end function;

  constant WIDE_SEL_T  : el_array(0 to NST * PPC * NW - 1)         := wide_sel_table;
  constant WIDE_IN_T   : std_logic_vector(0 to NST * PPC * NW - 1) := wide_in_table;
  constant WIDE_CAND_T : bool_array(0 to PPC * NW * NE - 1)       := wide_cand_table;

  -- A side's size class, 0-based: min(size, m + 2) - 1.
  function size_class(size : unsigned(15 downto 0)) return cls_t is
  begin
    if to_integer(size) >= CLS then
      return to_unsigned(CLS - 1, CW);
    end if;
    return resize(size - 1, CW);
  end function;

  function taps_ok return boolean is
    variable sum : natural := 0;
  begin
    for i in 0 to N - 1 loop
      sum := sum + TAPS(TAPS'low + i);
      if TAPS(TAPS'low + i) /= TAPS(TAPS'low + N - 1 - i) then
        return false;
      end if;
    end loop;
    return sum = 2 ** SHIFT;
  end function;

  -- A token travels with its slot: the horizontal fields to the output, bit by bit at these
  -- offsets: output pixel, tuser, tlast, first column (load the columns), a later column (step
  -- them), the newest tap's inside flag, the size class, the newest tap's position; with several
  -- pixels a beat, the beat's state (a, r) instead of the last five.
  constant K_OUT  : natural := 0;
  constant K_USER : natural := 1;
  constant K_LAST : natural := 2;
  constant K_LOAD : natural := 3;
  constant K_STEP : natural := 4;
  constant K_IN   : natural := 5;
  constant K_CLS  : natural := 6;
  constant K_POS  : natural := K_CLS + CW;
  constant K_A    : natural := K_POS + PW;
  constant K_R    : natural := K_A + GW;
  constant KW     : natural := K_R + GW;                  -- one pixel a beat: (a, r) stay 0
  subtype token_t is std_logic_vector(KW - 1 downto 0);
  type token_array is array (natural range <>) of token_t;

  subtype beat_t is unsigned(BW - 1 downto 0);         -- a beat, every pixel and channel
  type beat_array is array (natural range <>) of beat_t;
  subtype vsum_t is unsigned(VSUM_W - 1 downto 0);
  type col_sums is array (0 to CHANNELS - 1) of vsum_t;  -- a column's sums, channel by channel
  type col_sums_array is array (natural range <>) of col_sums;
  type beat_sums is array (0 to PPC * CHANNELS - 1) of vsum_t;  -- a beat's, lane by lane
  type beat_sums_array is array (natural range <>) of beat_sums;
  type vpair_array is array (natural range <>) of unsigned(P downto 0);
  type hpair_array is array (natural range <>) of unsigned(VSUM_W downto 0);
  type vtree_array is array (natural range <>) of signed(TWV - 1 downto 0);
  type htree_array is array (natural range <>) of signed(TWH - 1 downto 0);

  ---------------------------------------------------------------------------------------------------
  -- Signals, stage by stage, named as in the SystemVerilog core.

  signal ce, running : std_logic;
  signal hold_valid, hold_user, hold_same, hold_w_one, hold_h_one, hold_h_two : std_logic;
  signal hold_go : std_logic;  -- the beat in hold starts a frame that yields pixels
  signal hold_data : beat_t;
  signal hold_w1 : unsigned(AW - 1 downto 0);  -- beats a row - 1
  signal hold_h : unsigned(15 downto 0);       -- height
  signal hold_vcls, hold_hcls : cls_t;
  signal hold_r0 : unsigned(GW - 1 downto 0);  -- the first beat's r: min(beats - 1, G)
  signal hold_g0 : std_logic;                  -- that is the last beat with r = G
  signal pop_hold, drop, start, tready : std_logic;
  signal s_last : unsigned(AW - 1 downto 0);
  signal s_r0 : unsigned(GW - 1 downto 0);
  signal s_g0 : std_logic;

  type u16_pair is array (0 to 1) of unsigned(15 downto 0);
  type cls_pair is array (0 to 1) of cls_t;
  type wait_pair is array (0 to 1) of unsigned(RW - 1 downto 0);
  signal f_h : u16_pair;
  signal f_vcls, f_hcls : cls_pair;
  signal f_wait : wait_pair;
  signal f_one, f_ready : std_logic_vector(0 to 1);  -- one row high; its wait is over
  -- The head's entry, copied as it becomes the head, so that no walker reads through f_hp.
  signal h_vcls, h_hcls : cls_t;
  signal f_hp, f_tp : std_logic;
  signal f_n : unsigned(1 downto 0);

  signal in_active, row_in, row_auto : std_logic;
  -- The input row plus two, counted up from a constant (set and reset bits, no load), against
  -- the frame's height: equal as the row before the last ends.
  signal in_c, s_h : unsigned(15 downto 0);
  signal in_final : std_logic;                       -- the input row is the frame's last
  signal x0, x_last, s_one, o_last, o_first : std_logic;
  -- The slot's beat x is told by the beats after it in its row, counted down (at x = 0 from the
  -- row's width): that count is the line buffers' address, the same column on every row of a
  -- width. Beat x's state (a, r) = (min(x, G), min(beats after, G)), kept a slot ahead like the
  -- flags, and whether x is the last beat with r = G.
  signal xr, st_xr : unsigned(AW - 1 downto 0);
  signal bt_a, bt_r, st_a, st_r : unsigned(GW - 1 downto 0);
  signal st_g : std_logic;
  signal o_near : std_logic;   -- the window's newest row lies past the frame's end
  -- Rows counted down to the end, not up to a height: the compares are against constants, and
  -- no height minus one or two need be kept.
  signal o_left : unsigned(15 downto 0);  -- rows from the head's output row to its end
  signal tail : unsigned(RW - 1 downto 0);
  signal owed : std_logic;  -- frames in the queue, or slots owed: f_n /= 0 or tail /= 0
  -- Only sides of at most m + 1 (size classes below the last) walk the index; on a larger side
  -- the newest tap folds once, at the end, which the rows (columns) left tell.
  signal vw_at, hw_at : unsigned(RW - 1 downto 0);
  signal vw_up, hw_up, vw_in, hw_in : std_logic;
  signal vw_pos, hw_pos : pos_t;

  signal in_now, auto_now, push, zero_fill, fire, row_end : std_logic;
  signal out_now, first_row, pop_frame : std_logic;
  signal o_left_n, o_base : unsigned(15 downto 0);
  signal v_big, h_big : std_logic;
  signal out_vcls, out_hcls : cls_t;
  signal hp_n, o_last_n : std_logic;
  signal vw_at_n, hw_at_n : unsigned(RW - 1 downto 0);
  signal vw_up_n, hw_up_n, vw_in_n, hw_in_n : std_logic;
  signal vw_pos_n, hw_pos_n : pos_t;

  signal t0_valid, t0_wr, t0_vload, t0_vstep, t0_vin : std_logic;
  signal t0_addr : unsigned(AW - 1 downto 0);
  signal t0_pix : beat_t;
  signal t0_vcls : cls_t;
  signal t0_vpos : pos_t;
  signal t0_k : token_t;

  signal ta_valid, ta_wr, ta_vload, ta_vstep, ta_vin, tb_valid : std_logic;
  signal ta_addr : unsigned(AW - 1 downto 0);
  signal ta_pix : beat_t;
  signal ta_vcls : cls_t;
  signal ta_vpos : pos_t;
  signal ta_k, tb_k : token_t;
  signal ram_q : beat_array(1 to max(NB, 1));
  signal ea, eb : beat_array(0 to NB);
  signal fwd_a : std_logic;  -- the read of stage A's slot missed B's write

  -- A tap's position, one-hot over the window (only the positions it can read are ever set).
  type onehot_array is array (natural range <>) of std_logic_vector(0 to NW - 1);
  signal voh : onehot_array(0 to NW - 1);
  signal vin : std_logic_vector(0 to NW - 1);
  signal tv_valid : std_logic_vector(0 to LV + 2);
  signal tv_k : token_array(0 to LV + 2);
  signal vw : beat_array(0 to NW - 1);

  signal new_valid, fresh_mid : std_logic;
  signal new_k, mid_k : token_t;
  signal vsum : beat_sums;
  signal hwin : beat_sums_array(0 to NWH - 1);
  signal hw : col_sums_array(0 to PPC * NW - 1);     -- tap j of pixel l at l*NW + j
  signal hs_valid : std_logic_vector(0 to NWH - 1);
  signal hs_k : token_array(0 to NWH - 1);
  signal th_valid : std_logic_vector(0 to LH + 2);
  signal th_user, th_last : std_logic_vector(0 to LH + 2);

  signal result : beat_t;
  -- The skid buffer's flag is kept as "empty", the clock enable itself: an inverted enable costs
  -- an inverter at every flip-flop on some families (Yosys's xc7 mapping).
  signal o_valid, k_empty, o_pop : std_logic;
  signal o_beat, k_beat : std_logic_vector(BW + 1 downto 0);

begin

  assert TAPS'length = N and N mod 2 = 1 report "tapsmith_blur: TAPS must hold N taps, N odd" severity failure;
  assert taps_ok report "tapsmith_blur: TAPS must be symmetric and sum to 2**SHIFT" severity failure;
  assert SHIFT <= 30 and P >= 1 and P <= 16 and P + 2 * SHIFT <= 64
    report "tapsmith_blur: P must be 1 .. 16, SHIFT at most 30, P + 2 * SHIFT at most 64" severity failure;
  assert MAX_WIDTH >= 1 and MAX_WIDTH <= 65535 and BORDER <= 2
    report "tapsmith_blur: bad MAX_WIDTH or BORDER" severity failure;
  assert CHANNELS >= 1 and CHANNELS <= 4 and ALPHA <= 1 and (ALPHA = 0 or CHANNELS >= 2)
    report "tapsmith_blur: CHANNELS must be 1 .. 4, ALPHA 0 or 1 beside a colour channel" severity failure;
  assert PPC = 1 or PPC = 2 or PPC = 4 or PPC = 8
    report "tapsmith_blur: PPC must be 1, 2, 4 or 8" severity failure;

  ---------------------------------------------------------------------------------------------------
  -- Clock enable and input register. What the sequencer needs of a beat's size is worked out as
  -- the beat is taken, so that none of it lies on the sequencer's own paths.

  tready <= running and (not hold_valid or pop_hold);
  s_axis_tready <= tready;

  input_reg : process (clk)
    variable w1 : unsigned(AW - 1 downto 0);
    variable wb : unsigned(15 downto 0);               -- the width in beats
  begin
    if rising_edge(clk) then
      running <= not rst;
      if s_axis_tvalid = '1' and tready = '1' then
        wb := shift_right(unsigned(width), LPPC);
        w1 := resize(wb - 1, AW);
        hold_data <= unsigned(s_axis_tdata);
        hold_user <= s_axis_tuser;
        hold_w1 <= w1;
        hold_h <= unsigned(height);
        -- The stream's width once the beat in hold, if it starts a frame now, has gone in.
        if start = '1' then
          hold_same <= '1' when w1 = hold_w1 else '0';
        else
          hold_same <= '1' when w1 = s_last else '0';
        end if;
        hold_w_one <= '1' when wb = 1 else '0';
        hold_h_one <= '1' when unsigned(height) = 1 else '0';
        hold_h_two <= '1' when unsigned(height) = 2 else '0';
        if to_integer(wb) > G then
          hold_r0 <= to_unsigned(G, GW);
        else
          hold_r0 <= resize(wb - 1, GW);
        end if;
        hold_g0 <= bool_bit(to_integer(wb) = G + 1);
        hold_vcls <= size_class(unsigned(height));
        hold_hcls <= size_class(unsigned(width));
      end if;
      if rst = '1' then
        hold_valid <= '0';
        hold_go <= '0';
      elsif s_axis_tvalid = '1' and tready = '1' then
        hold_valid <= '1';
        -- A width that is not a whole number of beats is refused like width 0.
        hold_go <= '1' when s_axis_tuser = '1' and unsigned(width) /= 0 and unsigned(height) /= 0 and
                   to_integer(unsigned(width)) <= MAX_WIDTH and to_integer(unsigned(width)) mod PPC = 0
                   else '0';
      elsif pop_hold = '1' then
        hold_valid <= '0';
        hold_go <= '0';
      end if;
    end if;
  end process;

  ---------------------------------------------------------------------------------------------------
  -- Slot sequencer: which row of the stream the next slot belongs to, and what it carries. Frames
  -- in flight (at most two: one in its flush rows, one in its first rows) wait in a queue, from the
  -- slot that starts them until their last output row: height, size classes, rows to wait.

  decide : process (all)
    variable hp : natural range 0 to 1;
    variable v_start, v_in_now, v_push, v_zero, v_row_end, v_head_out, v_out_now, v_pop : std_logic;
    variable v_h_big : std_logic;
  begin
    hp := to_integer(unsigned'('0' & f_hp));
    v_start := '0';
    if x0 = '1' and in_active = '0' and hold_go = '1' and (f_n = 0 or (hold_same = '1' and f_n /= 2)) then
      v_start := '1';
    end if;
    if x0 = '1' then
      v_in_now := in_active or v_start;
    else
      v_in_now := row_in;
    end if;
    if v_in_now = '0' and ((x0 = '1' and f_n /= 0) or (x0 = '0' and row_auto = '1')) then
      auto_now <= '1';
    else
      auto_now <= '0';
    end if;
    v_push := x0 and not in_active and not hold_go and bool_bit(f_n = 0 and tail /= 0);  -- nothing starts: no in_now
    v_zero := in_active and hold_valid and hold_user;
    if x0 = '0' then
      st_a <= bt_a;
      st_xr <= xr;
      st_r <= bt_r;
      st_g <= bool_bit(xr = G);
    elsif v_start = '1' then
      st_a <= (others => '0');
      st_xr <= hold_w1;
      st_r <= hold_r0;
      st_g <= hold_g0;
    else
      st_a <= (others => '0');
      st_xr <= s_last;
      st_r <= s_r0;
      st_g <= s_g0;
    end if;
    if v_push = '1' then
      v_row_end := '0';
    elsif x0 = '1' then
      v_row_end := (v_start and hold_w_one) or (not v_start and s_one);
    else
      v_row_end := x_last;
    end if;
    -- The frame this slot outputs a row of: the head once its wait is over; with m = 0 a frame
    -- outputs from its first row, before it is in the queue, so its sizes come from the hold
    -- register.
    v_head_out := bool_bit(f_n /= 0) and f_ready(hp);
    -- A head waits, or has m > 0 rows: no push.
    v_out_now := v_head_out or bool_bit(M = 0 and v_start = '1');
    -- With m > 0 nothing reads these but for the head. The head's rows left; at its first output
    -- row, its height, so that nothing is loaded as frames start or leave. With m = 0 a frame
    -- outputs as it starts, from the hold register.
    if M > 0 or v_head_out = '1' then
      out_vcls <= h_vcls;
      out_hcls <= h_hcls;
      v_big <= bool_bit(h_vcls = CLS - 1);
      v_h_big := bool_bit(h_hcls = CLS - 1);
    else
      out_vcls <= hold_vcls;
      out_hcls <= hold_hcls;
      v_big <= bool_bit(hold_vcls = CLS - 1);
      v_h_big := bool_bit(hold_hcls = CLS - 1);
    end if;
    h_big <= v_h_big;
    if o_first = '0' then
      o_base <= o_left;
    elsif M > 0 or v_head_out = '1' then
      o_base <= f_h(hp);
    else
      o_base <= hold_h;
    end if;
    if v_head_out = '1' then
      v_pop := v_row_end and v_out_now and o_last;
    else
      v_pop := v_row_end and v_out_now and hold_h_one;
    end if;
    start <= v_start;
    in_now <= v_in_now;
    push <= v_push;
    zero_fill <= v_zero;
    row_end <= v_row_end;
    out_now <= v_out_now;
    pop_frame <= v_pop;
  end process;

  first_row <= o_first;
  -- fire and pop_hold reach every clock enable of the sequencer and the hold register: they are
  -- written out case by case over registered flags, so that they stay two or three LUTs deep.
  fire <= ce and running and ((x0 and in_active and hold_valid) or (x0 and not in_active and (owed or hold_go)) or
                              (not x0 and row_in and in_active and hold_valid) or (not x0 and not row_in and row_auto));
  drop <= running and hold_valid and not in_active and not hold_go;
  pop_hold <= (ce and running and ((x0 and in_active and hold_valid and not hold_user) or (x0 and not in_active and start) or
                                   (not x0 and row_in and in_active and hold_valid and not hold_user))) or drop;

  -- The counters' next values, from which the flags are worked out ahead.
  nexts : process (all)
    variable hp : natural range 0 to 1;
  begin
    if row_end = '1' and out_now = '1' then
      o_left_n <= o_base - 1;
    else
      o_left_n <= o_base;
    end if;
    o_near <= bool_bit(o_left <= M);
    hp := to_integer(unsigned'('0' & (f_hp xor pop_frame)));
    hp_n <= f_hp xor pop_frame;
    -- o_last ahead, without comparing the next row number: a new head's is whether it is one row
    -- high; a row further, whether this row was the one before the last.
    if pop_frame = '1' then
      if start = '1' and f_tp = (f_hp xor pop_frame) then
        o_last_n <= hold_h_one;
      else
        o_last_n <= f_one(hp);
      end if;
    elsif row_end = '1' and out_now = '1' then
      o_last_n <= bool_bit(o_base = 2);
    elsif start = '1' and f_n = 0 then
      o_last_n <= hold_h_one;
    else
      o_last_n <= o_last;
    end if;
  end process;

  -- The walkers: a frame's first output row (a row's first column) starts them from the size
  -- class's table, every later one steps them: index q -> q + 1 reads at_n; the newest tap's
  -- window position moves by at_n - at - 1.
  walkers : process (all)
  begin
    vw_at_n <= vw_at;
    vw_up_n <= vw_up;
    vw_pos_n <= vw_pos;
    vw_in_n <= vw_in;
    if x0 = '1' and first_row = '1' then
      -- The table's entry for the class: a select among constants.
      for c in 0 to CLS - 1 loop
        if out_vcls = c then
          vw_at_n <= to_unsigned(START_AT(c), RW);
          vw_up_n <= START_UP(c);
          vw_pos_n <= START_POS(c * NW + NW - 1);
          vw_in_n <= START_IN(c * NW + NW - 1);
        end if;
      end loop;
    elsif v_big = '1' then
      -- The newest row is past the end: zero reads nothing, replicate holds at the last row,
      -- reflect101 walks back from it.
      if BORDER = 2 then
        vw_in_n <= not o_near;
      elsif o_near = '1' and BORDER = 1 then
        vw_pos_n <= vw_pos - 1;
      elsif o_near = '1' then
        vw_pos_n <= resize(resize(vw_pos, PW + 1) - 2, PW);  -- PW may be 1 bit
      end if;
    elsif BORDER = 2 then
      -- A small class is its side's last index; the index stops there.
      if vw_at < resize(out_vcls, RW) then
        vw_in_n <= '1';
        vw_at_n <= vw_at + 1;
      else
        vw_in_n <= '0';
      end if;
    elsif BORDER = 1 then
      if vw_at = resize(out_vcls, RW) then
        vw_pos_n <= vw_pos - 1;
      else
        vw_at_n <= vw_at + 1;
      end if;
    elsif out_vcls = 0 then
      vw_pos_n <= vw_pos - 1;
    else
      -- The turn is known from the index before the step (the last - 1 and 1 that it reaches).
      if vw_up = '1' then
        vw_at_n <= vw_at + 1;
        vw_up_n <= bool_bit(vw_at /= resize(out_vcls - 1, RW));
      else
        vw_at_n <= vw_at - 1;
        vw_up_n <= bool_bit(vw_at = 1);
        vw_pos_n <= resize(resize(vw_pos, PW + 1) - 2, PW);  -- PW may be 1 bit
      end if;
    end if;

    hw_at_n <= hw_at;
    hw_up_n <= hw_up;
    hw_pos_n <= hw_pos;
    hw_in_n <= hw_in;
    if x0 = '1' then
      for c in 0 to CLS - 1 loop
        if out_hcls = c then
          hw_at_n <= to_unsigned(START_AT(c), RW);
          hw_up_n <= START_UP(c);
          hw_pos_n <= START_POS(c * NW + NW - 1);
          hw_in_n <= START_IN(c * NW + NW - 1);
        end if;
      end loop;
    elsif h_big = '1' then
      -- With one pixel a beat G = m: r < G says the newest column is past the row's end.
      if BORDER = 2 then
        hw_in_n <= bool_bit(bt_r = G);
      elsif bt_r /= G and BORDER = 1 then
        hw_pos_n <= hw_pos - 1;
      elsif bt_r /= G then
        hw_pos_n <= resize(resize(hw_pos, PW + 1) - 2, PW);
      end if;
    elsif BORDER = 2 then
      if hw_at < resize(out_hcls, RW) then
        hw_in_n <= '1';
        hw_at_n <= hw_at + 1;
      else
        hw_in_n <= '0';
      end if;
    elsif BORDER = 1 then
      if hw_at = resize(out_hcls, RW) then
        hw_pos_n <= hw_pos - 1;
      else
        hw_at_n <= hw_at + 1;
      end if;
    elsif out_hcls = 0 then
      hw_pos_n <= hw_pos - 1;
    else
      if hw_up = '1' then
        hw_at_n <= hw_at + 1;
        hw_up_n <= bool_bit(hw_at /= resize(out_hcls - 1, RW));
      else
        hw_at_n <= hw_at - 1;
        hw_up_n <= bool_bit(hw_at = 1);
        hw_pos_n <= resize(resize(hw_pos, PW + 1) - 2, PW);  -- PW may be 1 bit
      end if;
    end if;
  end process;

  -- What the slot carries: to the line buffers, to the rows' selects, to the output.
  t0_valid <= fire;
  t0_wr <= not push;
  t0_addr <= st_xr;
  t0_pix <= hold_data when in_now = '1' and zero_fill = '0' else (others => '0');
  t0_vload <= out_now and x0 and first_row;
  t0_vstep <= out_now and x0 and not first_row;
  t0_vcls <= out_vcls;
  t0_vpos <= vw_pos_n;
  t0_vin <= vw_in_n;
  token : process (all)
  begin
    t0_k <= (others => '0');
    t0_k(K_OUT) <= out_now;
    t0_k(K_USER) <= out_now and x0 and first_row;
    t0_k(K_LAST) <= out_now and row_end;
    t0_k(K_LOAD) <= out_now and x0;
    t0_k(K_STEP) <= out_now and not x0;
    t0_k(K_IN) <= hw_in_n;
    t0_k(K_CLS + CW - 1 downto K_CLS) <= std_logic_vector(out_hcls);
    t0_k(K_POS + PW - 1 downto K_POS) <= std_logic_vector(hw_pos_n);
    if PPC > 1 then
      t0_k(K_A + GW - 1 downto K_A) <= std_logic_vector(st_a);
      t0_k(K_R + GW - 1 downto K_R) <= std_logic_vector(st_r);
    end if;
  end process;

  sequencer : process (clk)
  begin
    if rising_edge(clk) then
      if rst = '1' then
        in_active <= '0';
        x0 <= '1';
        f_hp <= '0';
        f_tp <= '0';
        f_n <= (others => '0');
        o_left <= (others => '0');
        o_first <= '1';
        tail <= (others => '0');
        owed <= '0';
      elsif fire = '1' then
        x0 <= push or row_end;  -- a push holds the slot at x = 0
        -- Read only past x = 0 (a row's end reloads the count).
        x_last <= bool_bit(st_xr = 1);
        xr <= st_xr - 1;
        if st_a /= G then
          bt_a <= st_a + 1;
        else
          bt_a <= st_a;
        end if;
        if G = 0 then
          bt_r <= (others => '0');
        elsif st_r /= G then
          bt_r <= st_r - 1;
        elsif st_g = '1' then
          bt_r <= to_unsigned(G - 1, GW);
        else
          bt_r <= st_r;
        end if;
        o_last <= o_last_n;
        o_first <= pop_frame or (o_first and not (row_end and out_now));
        -- The next head: the second entry once the head leaves a full queue, or a frame that starts
        -- as the queue empties or is empty; in an empty queue the copy is never read.
        if (pop_frame = '1' and f_n /= 2) or (pop_frame = '0' and f_n = 0) then
          h_vcls <= hold_vcls;
          h_hcls <= hold_hcls;
        elsif pop_frame = '1' and f_hp = '0' then
          h_vcls <= f_vcls(1);
          h_hcls <= f_hcls(1);
        elsif pop_frame = '1' then
          h_vcls <= f_vcls(0);
          h_hcls <= f_hcls(0);
        end if;
        if x0 = '1' then
          row_in <= in_now;
          row_auto <= auto_now;
        end if;
        if start = '1' then
          s_last <= hold_w1;
          s_r0 <= hold_r0;
          s_g0 <= hold_g0;
          s_one <= hold_w_one;
          in_active <= '1';
          in_c <= to_unsigned(2, 16);
          s_h <= hold_h;
          in_final <= hold_h_one;
        end if;
        -- in_final says whether this row is the frame's last, worked out a row ahead.
        if in_now = '1' and row_end = '1' then
          if start = '1' then
            if hold_h_one = '1' then
              in_active <= '0';
            else
              in_c <= to_unsigned(3, 16);
              in_final <= hold_h_two;
            end if;
          elsif in_final = '1' then
            in_active <= '0';
          else
            in_c <= in_c + 1;
            in_final <= bool_bit(in_c = s_h);
          end if;
        end if;
        -- A row's end counts the frames' waits down; a frame starts waiting m rows.
        for e in 0 to 1 loop
          if start = '1' and f_tp = bit_of(e) then
            f_h(e) <= hold_h;
            f_vcls(e) <= hold_vcls;
            f_hcls(e) <= hold_hcls;
            f_one(e) <= hold_h_one;
            if row_end = '1' and M > 0 then
              f_wait(e) <= to_unsigned(M - 1, RW);
            else
              f_wait(e) <= to_unsigned(M, RW);
            end if;
            f_ready(e) <= bool_bit(M = 0 or (M = 1 and row_end = '1'));
          elsif row_end = '1' and f_wait(e) /= 0 then
            f_wait(e) <= f_wait(e) - 1;
            f_ready(e) <= bool_bit(f_wait(e) = 1);
          end if;
        end loop;
        if start = '1' then
          f_tp <= not f_tp;
        end if;
        f_hp <= hp_n;
        f_n <= f_n + unsigned'('0' & start) - unsigned'('0' & pop_frame);
        o_left <= o_left_n;
        if out_now = '1' then
          tail <= to_unsigned(G, RW);
        elsif tail /= 0 then
          tail <= tail - 1;
        end if;
        owed <= bool_bit(f_n + unsigned'('0' & start) - unsigned'('0' & pop_frame) /= 0 or
                         (out_now = '1' and G > 0) or (out_now = '0' and tail > 1));
        if out_now = '1' and x0 = '1' then
          vw_at <= vw_at_n;
          vw_up <= vw_up_n;
          vw_pos <= vw_pos_n;
          vw_in <= vw_in_n;
        end if;
        if out_now = '1' then
          hw_at <= hw_at_n;
          hw_up <= hw_up_n;
          hw_pos <= hw_pos_n;
          hw_in <= hw_in_n;
        end if;
      end if;
    end if;
  end process;

  ---------------------------------------------------------------------------------------------------
  -- Line buffers. Stage A: the slot's reads are in the block RAMs' output registers, and the
  -- column E_0 .. E_2m (E_0 the pixel) is formed from them, forwarded from stage B where the slot
  -- before wrote the same word on the clock edge of this slot's read; buffer k+1 is written with
  -- E_k as stage A ends, so no write is pending longer than that. Stage B: E in registers.

  column_a : process (all)
  begin
    ea(0) <= ta_pix;
    for k in 1 to NB loop
      if fwd_a = '1' then
        ea(k) <= eb(k - 1);
      else
        ea(k) <= ram_q(k);
      end if;
    end loop;
  end process;

  g_line : for k in 1 to NB generate
    type mem_t is array (0 to WBMAX - 1) of beat_t;
    signal mem : mem_t;
  begin
    process (clk)
    begin
      if rising_edge(clk) then
        if ta_valid = '1' and ta_wr = '1' then
          mem(to_integer(ta_addr)) <= ea(k - 1);
        end if;
        if ce = '1' then
          ram_q(k) <= mem(to_integer(t0_addr));
        end if;
      end if;
    end process;
  end generate;

  stages_ab : process (clk)
  begin
    if rising_edge(clk) then
      if rst = '1' then
        ta_valid <= '0';
        tb_valid <= '0';
      elsif ce = '1' then
        ta_valid <= t0_valid;
        tb_valid <= ta_valid;
      end if;
      if ce = '1' then
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
        fwd_a <= t0_valid and ta_valid and ta_wr and bool_bit(ta_addr = t0_addr);
        eb <= ea;
      end if;
    end if;
  end process;

  ---------------------------------------------------------------------------------------------------
  -- Vertical pass. Row selects follow the slot: loaded or stepped as its first token of a row
  -- enters stage B. Stage C: the selected rows w; D: pre-added pairs u; E: the terms; then one
  -- registered tree level a stage.

  g_vrow : for i in 0 to NW - 1 generate
    -- Row i of the window is line y - m + i, that is buffer 2m - i. Its position is one-hot over
    -- the positions it can read (the others stay 0): a step is the neighbour's bits moved down
    -- one, and the select an AND-OR, with no position to count down or decode.
    process (clk)
      variable acc : beat_t;
    begin
      if rising_edge(clk) then
        if ce = '1' and ta_valid = '1' and ta_vload = '1' then
          for c in 0 to CLS - 1 loop
            if ta_vcls = c then
              for q in 0 to NW - 1 loop
                voh(i)(q) <= bool_bit(CAND_OK(i * NW + q) and START_POS(c * NW + i) = q);
              end loop;
              vin(i) <= START_IN(c * NW + i);
            end if;
          end loop;
        elsif ce = '1' and ta_valid = '1' and ta_vstep = '1' then
          for q in 0 to NW - 1 loop
            if not CAND_OK(i * NW + q) then
              voh(i)(q) <= '0';
            elsif BORDER = 2 then
              voh(i)(q) <= bool_bit(q = i);
            elsif i = NW - 1 then
              voh(i)(q) <= bool_bit(ta_vpos = q);
            elsif q < NW - 1 then
              voh(i)(q) <= voh((i + 1) mod NW)((q + 1) mod NW);
            else
              voh(i)(q) <= '0';
            end if;
          end loop;
          if i = NW - 1 then
            vin(i) <= ta_vin;
          else
            vin(i) <= vin((i + 1) mod NW);
          end if;
        end if;
        if ce = '1' then
          acc := (others => '0');
          for q in 0 to NW - 1 loop
            if CAND_OK(i * NW + q) and voh(i)(q) = '1' then
              acc := acc or eb(NB - q);
            end if;
          end loop;
          if BORDER = 2 and vin(i) = '0' then
            vw(i) <= (others => '0');
          else
            vw(i) <= acc;
          end if;
        end if;
      end if;
    end process;
  end generate;

  -- One copy a channel of every pixel of the beat: lane ln is channel ln mod CHANNELS.
  g_vch : for ln in 0 to PPC * CHANNELS - 1 generate
    constant CH : natural := ln mod CHANNELS;
  begin
    -- The centre row, as many stages as a sum takes, then as the sum of a lone centre tap.
    g_alpha : if ALPHA /= 0 and CH = CHANNELS - 1 generate
      type delay_t is array (0 to LV + 1) of unsigned(P - 1 downto 0);
      signal d : delay_t;
    begin
      process (clk)
      begin
        if rising_edge(clk) then
          if ce = '1' then
            d <= vw(M)(ln * P + P - 1 downto ln * P) & d(0 to LV);
          end if;
        end if;
      end process;
      vsum(ln) <= shift_left(resize(d(LV + 1), VSUM_W), SHIFT);
    end generate;

    g_sum : if ALPHA = 0 or CH < CHANNELS - 1 generate
      signal vu : vpair_array(0 to M);
      signal vt : vtree_array(0 to (LV + 1) * TV - 1);
    begin
      g_vpair : for k in 0 to M generate
        process (clk)
        begin
          if rising_edge(clk) then
            if ce = '1' then
              if k = M then
                vu(k) <= '0' & vw(k)(ln * P + P - 1 downto ln * P);
              elsif tap(k) /= 0 then
                vu(k) <= ('0' & vw(k)(ln * P + P - 1 downto ln * P)) + ('0' & vw(NB - k)(ln * P + P - 1 downto ln * P));
              else
                vu(k) <= (others => '0');
              end if;
            end if;
          end if;
        end process;
      end generate;

      g_vterm : for t in 0 to TV - 1 generate
        process (clk)
        begin
          if rising_edge(clk) then
            if ce = '1' then
              vt(t) <= shift_left(signed(resize(vu(TERM_TAP(t)), TWV)), TERM_SHIFT(t));
            end if;
          end if;
        end process;
      end generate;

      g_vlevel : for l in 0 to LV - 1 generate
        g_node : for i in 0 to nodes(TV, l + 1) - 1 generate
          constant KIND : natural := node_kind(TV, l, i);
          constant A    : natural := l * TV + 2 * i;
          constant B    : natural := l * TV + 2 * i + boolean'pos(KIND /= 0);
        begin
          process (clk)
          begin
            if rising_edge(clk) then
              if ce = '1' then
                case KIND is
                  when 1 => vt((l + 1) * TV + i) <= vt(A) + vt(B);
                  when 2 => vt((l + 1) * TV + i) <= vt(B) - vt(A);
                  when 3 => vt((l + 1) * TV + i) <= vt(A) - vt(B);
                  when others => vt((l + 1) * TV + i) <= vt(A);
                end case;
              end if;
            end if;
          end process;
        end generate;
      end generate;
      vsum(ln) <= unsigned(vt(LV * TV)(VSUM_W - 1 downto 0));
    end generate;
  end generate;

  vstages : process (clk)
  begin
    if rising_edge(clk) then
      if rst = '1' then
        tv_valid <= (others => '0');
      elsif ce = '1' then
        tv_valid <= tb_valid & tv_valid(0 to LV + 1);
      end if;
      if ce = '1' then
        tv_k <= tb_k & tv_k(0 to LV + 1);
      end if;
    end if;
  end process;

  ---------------------------------------------------------------------------------------------------
  -- Horizontal pass. The window holds the sums of the last 2G+1 slots; the one in its middle is
  -- output once, when it arrives there, with each tap's column selected by border as for rows.
  -- One pixel a beat, the columns follow a walker as the rows do; several, a table by the beat's
  -- state. The sums of a beat are shared by the PPC outputs that read them.

  new_valid <= tv_valid(LV + 2);
  new_k <= tv_k(LV + 2);
  -- The slot that becomes the middle one with the next shift sets the columns for it.
  mid_k <= new_k when G = 0 else hs_k((G + 1) mod NWH);

  hslots : process (clk)
  begin
    if rising_edge(clk) then
      if rst = '1' then
        hs_valid <= (others => '0');
        fresh_mid <= '0';
      elsif ce = '1' then
        fresh_mid <= new_valid;
        if new_valid = '1' then
          for j in 0 to NWH - 2 loop
            hs_valid(j) <= hs_valid(j + 1);
          end loop;
          hs_valid(NWH - 1) <= '1';
        end if;
      end if;
    end if;
  end process;

  g_hslot : for j in 0 to NWH - 1 generate
    process (clk)
    begin
      if rising_edge(clk) then
        if ce = '1' and new_valid = '1' then
          if j = NWH - 1 then
            hwin(j) <= vsum;
            hs_k(j) <= new_k;
          else
            hwin(j) <= hwin((j + 1) mod NWH);
            hs_k(j) <= hs_k((j + 1) mod NWH);
          end if;
        end if;
      end if;
    end process;
  end generate;

  g_narrow : if PPC = 1 generate
    signal hoh : onehot_array(0 to NW - 1);  -- one-hot positions, as for rows
    signal hin : std_logic_vector(0 to NW - 1);
  begin
    g_hcol : for j in 0 to NW - 1 generate
      process (clk)
        variable acc : col_sums;
      begin
        if rising_edge(clk) then
          if ce = '1' and new_valid = '1' then
            if mid_k(K_LOAD) = '1' then
              for c in 0 to CLS - 1 loop
                if unsigned(mid_k(K_CLS + CW - 1 downto K_CLS)) = c then
                  for q in 0 to NW - 1 loop
                    hoh(j)(q) <= bool_bit(CAND_OK(j * NW + q) and START_POS(c * NW + j) = q);
                  end loop;
                  hin(j) <= START_IN(c * NW + j);
                end if;
              end loop;
            elsif mid_k(K_STEP) = '1' then
              for q in 0 to NW - 1 loop
                if not CAND_OK(j * NW + q) then
                  hoh(j)(q) <= '0';
                elsif BORDER = 2 then
                  hoh(j)(q) <= bool_bit(q = j);
                elsif j = NW - 1 then
                  hoh(j)(q) <= bool_bit(unsigned(mid_k(K_POS + PW - 1 downto K_POS)) = q);
                elsif q < NW - 1 then
                  hoh(j)(q) <= hoh((j + 1) mod NW)((q + 1) mod NW);
                else
                  hoh(j)(q) <= '0';
                end if;
              end loop;
              if j = NW - 1 then
                hin(j) <= mid_k(K_IN);
              else
                hin(j) <= hin((j + 1) mod NW);
              end if;
            end if;
          end if;
          if ce = '1' then
            acc := (others => (others => '0'));
            for q in 0 to NW - 1 loop
              if CAND_OK(j * NW + q) and hoh(j)(q) = '1' then
                for c in 0 to CHANNELS - 1 loop
                  acc(c) := acc(c) or hwin(q)(c);
                end loop;
              end if;
            end loop;
            if BORDER = 2 and hin(j) = '0' then
              hw(j) <= (others => (others => '0'));
            else
              hw(j) <= acc;
            end if;
          end if;
        end if;
      end process;
    end generate;
  end generate;

  g_wide : if PPC > 1 generate
    -- Element e of the window, every channel.
    signal el : col_sums_array(0 to NE - 1);
  begin
    g_el : for e in 0 to NE - 1 generate
      constant F : natural := G * PPC - M + e;
    begin
      g_c : for c in 0 to CHANNELS - 1 generate
        el(e)(c) <= hwin(F / PPC)((F mod PPC) * CHANNELS + c);
      end generate;
    end generate;
    g_hpix : for l in 0 to PPC - 1 generate
      g_hcol : for j in 0 to NW - 1 generate
        signal sel : el_t;
        signal inside : std_logic;
      begin
        process (clk)
        begin
          if rising_edge(clk) then
            if ce = '1' and new_valid = '1' then
              for st in 0 to NST - 1 loop
                if unsigned(mid_k(K_A + GW - 1 downto K_A)) = st / (G + 1) and
                   unsigned(mid_k(K_R + GW - 1 downto K_R)) = st mod (G + 1) then
                  sel <= WIDE_SEL_T((st * PPC + l) * NW + j);
                  inside <= WIDE_IN_T((st * PPC + l) * NW + j);
                end if;
              end loop;
            end if;
            if ce = '1' then
              hw(l * NW + j) <= (others => (others => '0'));
              for e in 0 to NE - 1 loop
                if WIDE_CAND_T((l * NW + j) * NE + e) and sel = e and (BORDER /= 2 or inside = '1') then
                  hw(l * NW + j) <= el(e);
                end if;
              end loop;
            end if;
          end if;
        end process;
      end generate;
    end generate;
  end generate;

  -- One copy a channel of every output pixel: lane ln is channel ln mod CHANNELS of pixel
  -- ln / CHANNELS.
  g_hch : for ln in 0 to PPC * CHANNELS - 1 generate
    constant CH : natural := ln mod CHANNELS;
    constant PIX : natural := ln / CHANNELS;
  begin
    -- The centre column's pixel, back from its sum, as many stages as a result takes.
    g_alpha : if ALPHA /= 0 and CH = CHANNELS - 1 generate
      type delay_t is array (0 to LH + 1) of unsigned(P - 1 downto 0);
      signal d : delay_t;
    begin
      process (clk)
      begin
        if rising_edge(clk) then
          if ce = '1' then
            d <= hw(PIX * NW + M)(CH)(VSUM_W - 1 downto VSUM_W - P) & d(0 to LH);
          end if;
        end if;
      end process;
      result(ln * P + P - 1 downto ln * P) <= d(LH + 1);
    end generate;

    g_sum : if ALPHA = 0 or CH < CHANNELS - 1 generate
      signal hu : hpair_array(0 to M);
      signal ht : htree_array(0 to (LH + 1) * TH - 1);
    begin
      g_hpair : for k in 0 to M generate
        process (clk)
        begin
          if rising_edge(clk) then
            if ce = '1' then
              if k = M then
                hu(k) <= '0' & hw(PIX * NW + k)(CH);
              elsif tap(k) /= 0 then
                hu(k) <= ('0' & hw(PIX * NW + k)(CH)) + ('0' & hw(PIX * NW + NB - k)(CH));
              else
                hu(k) <= (others => '0');
              end if;
            end if;
          end if;
        end process;
      end generate;

      g_hterm : for t in 0 to TH - 1 generate
        process (clk)
        begin
          if rising_edge(clk) then
            if ce = '1' then
              if t = TV then
                ht(t) <= shift_left(to_signed(1, TWH), max(2 * SHIFT, 1) - 1);
              else
                ht(t) <= shift_left(signed(resize(hu(TERM_TAP(t)), TWH)), TERM_SHIFT(t));
              end if;
            end if;
          end if;
        end process;
      end generate;

      g_hlevel : for l in 0 to LH - 1 generate
        g_node : for i in 0 to nodes(TH, l + 1) - 1 generate
          constant KIND : natural := node_kind(TH, l, i);
          constant A    : natural := l * TH + 2 * i;
          constant B    : natural := l * TH + 2 * i + boolean'pos(KIND /= 0);
        begin
          process (clk)
          begin
            if rising_edge(clk) then
              if ce = '1' then
                case KIND is
                  when 1 => ht((l + 1) * TH + i) <= ht(A) + ht(B);
                  when 2 => ht((l + 1) * TH + i) <= ht(B) - ht(A);
                  when 3 => ht((l + 1) * TH + i) <= ht(A) - ht(B);
                  when others => ht((l + 1) * TH + i) <= ht(A);
                end case;
              end if;
            end if;
          end process;
        end generate;
      end generate;
      result(ln * P + P - 1 downto ln * P) <= unsigned(ht(LH * TH)(HSUM_W - 1 downto HSUM_W - P));
    end generate;
  end generate;

  hstages : process (clk)
    variable mid : token_t;
  begin
    if rising_edge(clk) then
      mid := hs_k(G);
      if rst = '1' then
        th_valid <= (others => '0');
      elsif ce = '1' then
        th_valid <= (fresh_mid and hs_valid(G) and mid(K_OUT)) & th_valid(0 to LH + 1);
      end if;
      if ce = '1' then
        th_user <= mid(K_USER) & th_user(0 to LH + 1);
        th_last <= mid(K_LAST) & th_last(0 to LH + 1);
      end if;
    end if;
  end process;

  ---------------------------------------------------------------------------------------------------
  -- Output register and skid buffer. The pipeline runs while the skid buffer is empty; a result
  -- that finds the output register full and not taken waits there.

  ce <= k_empty;
  o_pop <= o_valid and m_axis_tready;
  m_axis_tvalid <= o_valid;
  m_axis_tuser <= o_beat(BW + 1);
  m_axis_tlast <= o_beat(BW);
  m_axis_tdata <= o_beat(BW - 1 downto 0);

  output : process (clk)
    variable beat : std_logic_vector(BW + 1 downto 0);
  begin
    if rising_edge(clk) then
      beat := th_user(LH + 2) & th_last(LH + 2) & std_logic_vector(result);
      if rst = '1' then
        o_valid <= '0';
        k_empty <= '1';
      elsif k_empty = '0' then
        if o_pop = '1' then
          o_beat <= k_beat;
          k_empty <= '1';
        end if;
      elsif o_valid = '0' or o_pop = '1' then
        o_valid <= th_valid(LH + 2);
        o_beat <= beat;
      elsif th_valid(LH + 2) = '1' then
        k_empty <= '0';
        k_beat <= beat;
      end if;
    end if;
  end process;

end architecture rtl;
