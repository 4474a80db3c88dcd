-- SPDX-License-Identifier: MIT
-- tapsmith_blur: a streaming, bit-exact separable Gaussian filter for
-- AXI4-Stream video. Every output pixel is
--   (sum over i, j of TAPS(i) * TAPS(j) * p(x + j - m, y + i - m) + 2**(2*SHIFT - 1)) >> (2*SHIFT)
-- with m = (N - 1) / 2: the vertical pass keeps P + SHIFT bits, the horizontal
-- one P + 2*SHIFT bits, and the only rounding (half up) is the final shift,
-- so the result equals the exact integer model bit for bit. Out-of-frame
-- pixels follow BORDER: 0 reflect101 (gfedcb|abcdefgh|gfedcba, reflected as
-- often as needed when the image is smaller than the kernel), 1 replicate,
-- 2 zero.
--
-- Frame protocol
-- 1. A frame begins with a beat carrying s_axis_tuser = 1; width and height
--    are taken from that beat. Beats outside a frame (before the first start
--    of frame, or past a frame's width * height pixels) are consumed and
--    thrown away.
-- 2. s_axis_tlast plays no part: lines are counted with the sampled width.
-- 3. A start of frame that arrives early, before the running frame got all
--    its pixels, makes the core finish that frame with zero pixels of its
--    own (s_axis_tready stays low meanwhile); the early beat then opens the
--    next frame. Every frame thus yields exactly width * height outputs and a
--    short frame cannot wedge the core.
-- 4. A frame announced with width 0, height 0 or width > MAX_WIDTH yields
--    nothing; its beats are thrown away like those of rule 1.
-- 5. Each frame comes out as width * height beats in raster order, with
--    m_axis_tuser on its first beat and m_axis_tlast on the last beat of
--    each line.
-- 6. Frames may follow each other without a gap.
--
-- Throughput (m = (N - 1) / 2, neither stream stalling): the output walks
-- each line through its padded columns, W + 2m cycles for W pixels, and
-- spends 3m + 5 cycles between frames folding the border start positions.
-- The input writes a line only into a line buffer nobody reads any more, so
-- it keeps the same rhythm: s_axis_tready is low 2m cycles per line. The
-- bottom border costs no input time, as the next frame's first lines stream
-- in while the last m + 1 lines of the previous one are filtered. A stream
-- of W x H frames thus takes H * (W + 2m) + 3m + 5 cycles per frame (3275
-- for 64 x 48, N = 5), at one pixel per clock inside a line. The first
-- output of a frame follows its first input by (min(m, H - 1) + 1) * W +
-- 2m + 5 cycles (201 for 64 x 48, N = 5).
--
-- Implementation: N + 1 line buffers of MAX_WIDTH x P bits, one write port
-- (input) and one registered read port (output) each, so they map to block
-- RAM. Input line r of the stream goes to buffer r mod (N + 1); output line
-- y reads lines y - m .. y + m (border-mapped, all inside that range) while
-- line y + m + 1 is written. The borders are walked incrementally (a line
-- index moves by one per step and bounces at the edges), which needs no
-- division for any image size. A descriptor queue lets the input run up to
-- a few frames ahead of the output. The read pipeline (buffer read,
-- vertical sum, horizontal window, output register) moves as one whenever
-- the output register is free or being taken (so m_axis_tready feeds its
-- clock enables directly).
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
    BORDER    : natural        := 0);     -- 0 reflect101, 1 replicate, 2 zero
  port (
    clk, rst      : in  std_logic;        -- rst synchronous, active high
    width, height : in  std_logic_vector(15 downto 0);
    s_axis_tvalid : in  std_logic;
    s_axis_tready : out std_logic;
    s_axis_tdata  : in  std_logic_vector(P - 1 downto 0);
    s_axis_tuser  : in  std_logic;
    s_axis_tlast  : in  std_logic;
    m_axis_tvalid : out std_logic;
    m_axis_tready : in  std_logic;
    m_axis_tdata  : out std_logic_vector(P - 1 downto 0);
    m_axis_tuser  : out std_logic;
    m_axis_tlast  : out std_logic);
end entity tapsmith_blur;

architecture rtl of tapsmith_blur is
  function clog2(v : positive) return natural is
    variable r : natural := 0;
  begin
    while 2 ** r < v loop
      r := r + 1;
    end loop;
    return r;
  end function;

  -- 2**SHIFT may not fit an integer (SHIFT = 31)
  function taps_sum_ok return boolean is
    variable s : unsigned(63 downto 0) := (others => '0');
  begin
    for i in TAPS'range loop
      if TAPS(i) < 0 then
        return false;
      end if;
      s := s + to_unsigned(TAPS(i), 64);
    end loop;
    return s = shift_left(to_unsigned(1, 64), SHIFT);
  end function;

  constant M  : natural := (N - 1) / 2;
  constant NB : positive := N + 1;        -- line buffers
  constant VW : positive := P + SHIFT;    -- vertical sums
  constant AW : positive := P + 2 * SHIFT;
  -- The input runs at most M + 2 lines ahead of the output and every frame
  -- has a line, so M + 2 queued frames are the most that can wait.
  constant QB : natural  := clog2(M + 2);
  constant DQ : positive := 2 ** QB;
  -- in_cnt - out_cnt stays within 0 .. M + 2; one spare bit keeps it unambiguous.
  constant CW : positive := clog2(M + 3) + 1;

  subtype pix_t is std_logic_vector(P - 1 downto 0);
  subtype buf_t is natural range 0 to NB - 1;
  subtype len_t is natural range 0 to 65535;
  type rd_t is array (0 to NB - 1) of pix_t;
  type sel_t is array (0 to N - 1) of buf_t;
  type zero_t is array (0 to N - 1) of boolean;
  type win_t is array (0 to N - 1) of unsigned(VW - 1 downto 0);
  type q_len_t is array (0 to DQ - 1) of len_t;
  type q_buf_t is array (0 to DQ - 1) of buf_t;

  -- The sums of products are formed in base 2**DB digits, least significant
  -- first: a digit times a digit of a tap stays below 2**28, so every column
  -- fits an integer and nothing is ever dropped. This is exact at any width
  -- up to 64 bits, and it simulates many times faster than numeric_std's
  -- bit-serial arithmetic; to synthesis it is a constant multiplier all the
  -- same. The digits are kept normalised (each below 2**DB).
  constant DB : positive := 14;
  constant ND : positive := (AW + DB - 1) / DB;
  subtype digit_t is natural range 0 to 2 ** DB - 1;
  type digits_t is array (0 to ND - 1) of digit_t;
  type tap_digits_t is array (0 to N - 1, 0 to 2) of digit_t;  -- taps < 2**31

  function tap_digits return tap_digits_t is
    variable r : tap_digits_t;
  begin
    for i in 0 to N - 1 loop
      r(i, 0) := TAPS(TAPS'low + i) mod 2 ** DB;
      r(i, 1) := (TAPS(TAPS'low + i) / 2 ** DB) mod 2 ** DB;
      r(i, 2) := TAPS(TAPS'low + i) / 2 ** (2 * DB);
    end loop;
    return r;
  end function;

  constant TD : tap_digits_t := tap_digits;

  -- d := d + x * tap i
  procedure add_times_tap(d : inout digits_t; x : unsigned; i : natural) is
    constant XN     : positive := (x'length + DB - 1) / DB;
    variable xr     : unsigned(XN * DB - 1 downto 0) := resize(x, XN * DB);
    variable xdig   : digits_t := (others => 0);
    variable column : natural range 0 to 2 ** 30 - 1;  -- < 2**14 + 2**16 + 3 * 2**28
    variable carry  : natural range 0 to 2 ** 16 - 1;
  begin
    for a in 0 to XN - 1 loop
      xdig(a) := to_integer(xr(a * DB + DB - 1 downto a * DB));
    end loop;
    carry := 0;
    for c in 0 to ND - 1 loop
      column := d(c) + carry;
      for b in 0 to 2 loop
        if c - b >= 0 and c - b < XN then
          column := column + xdig(c - b) * TD(i, b);
        end if;
      end loop;
      d(c)  := column mod 2 ** DB;
      carry := column / 2 ** DB;
    end loop;
  end procedure;

  function from_digits(d : digits_t; bits : positive) return unsigned is
    variable r : unsigned(ND * DB - 1 downto 0);
  begin
    for c in 0 to ND - 1 loop
      r(c * DB + DB - 1 downto c * DB) := to_unsigned(d(c), DB);
    end loop;
    return r(bits - 1 downto 0);
  end function;

  -- Position along a padded line or column: p is the unmapped index, c the
  -- border-mapped one, b the line buffer holding line c (vertical walks
  -- only), up the direction of the last reflect101 move and z marks a zero
  -- border pixel.
  type walk_t is record
    p  : integer range -M - 1 to 65536 + M;
    c  : len_t;
    up : boolean;
    b  : buf_t;
    z  : boolean;
  end record;

  function buf_inc(b : buf_t) return buf_t is
  begin
    if b = NB - 1 then
      return 0;
    end if;
    return b + 1;
  end function;

  function buf_dec(b : buf_t) return buf_t is
  begin
    if b = 0 then
      return NB - 1;
    end if;
    return b - 1;
  end function;

  -- One step along a line of length len (>= 1): reflect101 is a triangle
  -- wave 0, 1, .. len-1, len-2, .. 0, 1, .. with period 2 len - 2; replicate
  -- and zero clamp (zero also flags the pixels outside).
  function step(w : walk_t; len : len_t) return walk_t is
    variable r : walk_t := w;
  begin
    r.p := w.p + 1;
    if BORDER = 0 then
      if len > 1 then
        if (w.up and w.c = len - 1) or (not w.up and w.c /= 0) then
          r.c  := w.c - 1;
          r.b  := buf_dec(w.b);
          r.up := false;
        else
          r.c  := w.c + 1;
          r.b  := buf_inc(w.b);
          r.up := true;
        end if;
      end if;
    else
      if r.p > 0 and r.p <= len - 1 then
        r.c := w.c + 1;
        r.b := buf_inc(w.b);
      end if;
      r.z := BORDER = 2 and (r.p < 0 or r.p >= len);
    end if;
    return r;
  end function;

  function walk_origin(b : buf_t) return walk_t is
  begin
    return (p => 0, c => 0, up => true, b => b, z => false);
  end function;

  -- The walk at index -M. For reflect101 w is the walk after M steps from
  -- the origin: the line is symmetric around 0, so index -M maps where M
  -- does and moves the opposite way.
  function walk_start(w : walk_t; b : buf_t) return walk_t is
  begin
    if BORDER = 0 then
      return (p => -M, c => w.c, up => not w.up, b => w.b, z => false);
    end if;
    return (p => -M, c => 0, up => true, b => b, z => BORDER = 2 and M > 0);
  end function;

  -- input side
  type in_state_t is (IN_IDLE, IN_RECV);
  signal in_state                : in_state_t;
  signal ib_valid                : std_logic;  -- the beat register in front of the core
  signal ib_data                 : pix_t;
  signal ib_user                 : std_logic;
  signal ib_w, ib_h              : len_t;
  signal in_x, in_y, in_w, in_h  : len_t;
  signal in_b                    : buf_t;      -- buffer of the line being written
  signal in_cnt, out_cnt         : unsigned(CW - 1 downto 0);  -- lines written / read
  signal take                    : boolean;
  signal wr_en                   : boolean;
  signal wr_addr                 : natural range 0 to MAX_WIDTH - 1;
  signal wr_data                 : pix_t;
  signal push                    : boolean;
  signal lead                    : natural range 0 to 2 ** CW - 1;
  signal row_done                : boolean;     -- a line is written at this edge
  signal avail_inc               : natural range 0 to 1;

  -- frame descriptors from input to output
  signal q_w, q_h                : q_len_t;
  signal q_b                     : q_buf_t;
  signal q_wp, q_rp              : unsigned(QB downto 0);

  -- output side
  type out_state_t is (O_IDLE, O_FOLD, O_WINDOW, O_WAIT, O_ISSUE);
  signal o_state                 : out_state_t;
  signal o_w, o_h                : len_t;
  signal o_b                     : buf_t;
  signal o_left                  : len_t;       -- lines after the current one
  signal o_top                   : boolean;     -- current line is the first
  signal o_k                     : natural range 0 to MAX_WIDTH + 2 * M;  -- padded column
  signal o_cnt                   : natural range 0 to N;
  signal hfold, hstart, hcur     : walk_t;      -- horizontal: fold, line start, column
  signal vwalk                   : walk_t;      -- vertical: the next line to enter
  signal vsel                    : sel_t;       -- buffers of lines y - M .. y + M
  signal vzero                   : zero_t;
  signal adv                     : boolean;

  -- read pipeline
  signal rd                      : rd_t;
  signal s1_valid, s2_valid, s3_valid : boolean;
  signal s1_sel                  : sel_t;
  signal s1_zero                 : zero_t;
  signal s1_hzero                : boolean;
  signal s1_out, s2_out, s3_out  : boolean;     -- the column completes an output pixel
  signal s1_first, s2_first, s3_first : std_logic;
  signal s1_last, s2_last, s3_last    : std_logic;
  signal s2_v                    : unsigned(VW - 1 downto 0);
  signal hwin                    : win_t;
  signal m_valid                 : std_logic;
begin
  assert TAPS'length = N and N mod 2 = 1 report "TAPS must hold N taps, N odd" severity failure;
  assert taps_sum_ok report "TAPS must be non-negative and sum to 2**SHIFT" severity failure;
  assert P >= 1 and P <= 16 and P + 2 * SHIFT <= 64 report "P must be 1 .. 16, P + 2 * SHIFT at most 64" severity failure;
  assert MAX_WIDTH >= 1 and MAX_WIDTH <= 65535 and BORDER <= 2 report "bad MAX_WIDTH or BORDER"
    severity failure;

  ---------------------------------------------------------------------------
  -- input: one beat register, then every pixel written to the line buffer of
  -- its line, as soon as that buffer is no longer read.
  ---------------------------------------------------------------------------
  lead <= to_integer(in_cnt - out_cnt);

  in_decide : process (all)
    variable frame_ok, can_write, q_full : boolean;
  begin
    frame_ok  := ib_w /= 0 and ib_h /= 0 and ib_w <= MAX_WIDTH;
    can_write := lead <= M + 1;
    q_full    := q_wp - q_rp = DQ;
    take      <= false;
    wr_en     <= false;
    row_done  <= false;
    push      <= false;
    wr_addr   <= in_x;
    wr_data   <= ib_data;
    if ib_valid = '1' then
      if in_state = IN_IDLE then
        if ib_user = '1' and frame_ok then
          if can_write and not q_full then
            take     <= true;
            wr_en    <= true;
            push     <= true;
            wr_addr  <= 0;
            row_done <= ib_w = 1;
          end if;
        else
          take <= true;
        end if;
      elsif ib_user = '1' then
        -- early start of frame: it waits in the beat register while the
        -- running frame is completed with zeros
        if can_write then
          wr_en    <= true;
          wr_data  <= (others => '0');
          row_done <= in_x = in_w - 1;
        end if;
      elsif can_write then
        take     <= true;
        wr_en    <= true;
        row_done <= in_x = in_w - 1;
      end if;
    end if;
  end process;

  -- held low in reset, where a beat would be lost
  s_axis_tready <= '1' when rst = '0' and (ib_valid = '0' or take) else '0';

  in_ctrl : process (clk)
    variable x, y, w, h : len_t;
  begin
    if rising_edge(clk) then
      if rst = '1' then
        ib_valid <= '0';
        in_state <= IN_IDLE;
        in_cnt   <= (others => '0');
        in_b     <= 0;
        q_wp     <= (others => '0');
        in_x     <= 0;
        in_y     <= 0;
      else
        if s_axis_tvalid = '1' and (ib_valid = '0' or take) then  -- s_axis_tready
          ib_valid <= '1';
          ib_data  <= s_axis_tdata;
          ib_user  <= s_axis_tuser;
          ib_w     <= to_integer(unsigned(width));
          ib_h     <= to_integer(unsigned(height));
        elsif take then
          ib_valid <= '0';
        end if;

        if push then
          q_w(to_integer(q_wp(QB - 1 downto 0))) <= ib_w;
          q_h(to_integer(q_wp(QB - 1 downto 0))) <= ib_h;
          q_b(to_integer(q_wp(QB - 1 downto 0))) <= in_b;
          q_wp <= q_wp + 1;
        end if;

        if wr_en then
          if in_state = IN_IDLE then
            x := 0;
            y := 0;
            w := ib_w;
            h := ib_h;
            in_w <= ib_w;
            in_h <= ib_h;
          else
            x := in_x;
            y := in_y;
            w := in_w;
            h := in_h;
          end if;
          in_state <= IN_RECV;
          if x = w - 1 then
            in_x   <= 0;
            in_cnt <= in_cnt + 1;
            in_b   <= buf_inc(in_b);
            if y = h - 1 then
              in_state <= IN_IDLE;
            else
              in_y <= y + 1;
            end if;
          else
            in_x <= x + 1;
            in_y <= y;
          end if;
        end if;
      end if;
    end if;
  end process;

  ---------------------------------------------------------------------------
  -- line buffers: one write port, one registered read port each
  ---------------------------------------------------------------------------
  line_buffers : for k in 0 to NB - 1 generate
    type mem_t is array (0 to MAX_WIDTH - 1) of pix_t;
    signal mem : mem_t;
  begin
    process (clk)
    begin
      if rising_edge(clk) then
        if wr_en and in_b = k then
          mem(wr_addr) <= wr_data;
        end if;
        if adv then
          rd(k) <= mem(hcur.c);
        end if;
      end if;
    end process;
  end generate;

  ---------------------------------------------------------------------------
  -- output: fold the border starts of a frame, then walk its lines
  ---------------------------------------------------------------------------
  adv <= m_valid = '0' or m_axis_tready = '1';
  avail_inc <= 1 when row_done else 0;

  out_ctrl : process (clk)
    variable pix : unsigned(P - 1 downto 0);
    variable sum : digits_t;
    variable acc : unsigned(AW - 1 downto 0);

    -- input lines a line with `left` lines below it needs beyond the lines
    -- above: itself and min(M, left) more
    function lines_needed(left : len_t) return natural is
    begin
      if left < M then
        return left + 1;
      end if;
      return M + 1;
    end function;

    -- the line vwalk is at enters the vertical window, the oldest one leaves
    procedure window_next_line is
    begin
      for i in 0 to N - 2 loop
        vsel(i)  <= vsel(i + 1);
        vzero(i) <= vzero(i + 1);
      end loop;
      vsel(N - 1)  <= vwalk.b;
      vzero(N - 1) <= vwalk.z;
      vwalk        <= step(vwalk, o_h);
    end procedure;
  begin
    if rising_edge(clk) then
      if rst = '1' then
        o_state  <= O_IDLE;
        out_cnt  <= (others => '0');
        q_rp     <= (others => '0');
        s1_valid <= false;
        s2_valid <= false;
        s3_valid <= false;
        m_valid  <= '0';
      else
        -- pipeline, later stages first so each reads its predecessor's old value
        if adv then
          if s3_valid and s3_out then
            sum := (others => 0);
            if SHIFT > 0 then             -- the half for rounding
              sum((2 * SHIFT - 1) / DB) := 2 ** ((2 * SHIFT - 1) mod DB);
            end if;
            for j in 0 to N - 1 loop
              add_times_tap(sum, hwin(j), j);
            end loop;
            acc := from_digits(sum, AW);
            m_valid      <= '1';
            m_axis_tdata <= std_logic_vector(acc(AW - 1 downto 2 * SHIFT));
            m_axis_tuser <= s3_first;
            m_axis_tlast <= s3_last;
          else
            m_valid <= '0';
          end if;

          s3_valid <= s2_valid;
          if s2_valid then
            for j in 0 to N - 2 loop
              hwin(j) <= hwin(j + 1);
            end loop;
            hwin(N - 1) <= s2_v;
            s3_out      <= s2_out;
            s3_first    <= s2_first;
            s3_last     <= s2_last;
          end if;

          s2_valid <= s1_valid;
          if s1_valid then
            sum := (others => 0);
            for i in 0 to N - 1 loop
              if not (s1_zero(i) or s1_hzero) then
                pix := unsigned(rd(s1_sel(i)));
                add_times_tap(sum, pix, i);
              end if;
            end loop;
            s2_v     <= from_digits(sum, VW);
            s2_out   <= s1_out;
            s2_first <= s1_first;
            s2_last  <= s1_last;
          end if;
          s1_valid <= false;
        end if;

        case o_state is
          when O_IDLE =>
            if q_wp /= q_rp then
              o_w     <= q_w(to_integer(q_rp(QB - 1 downto 0)));
              o_h     <= q_h(to_integer(q_rp(QB - 1 downto 0)));
              o_b     <= q_b(to_integer(q_rp(QB - 1 downto 0)));
              hfold   <= walk_origin(0);
              vwalk   <= walk_origin(q_b(to_integer(q_rp(QB - 1 downto 0))));
              q_rp    <= q_rp + 1;
              o_cnt   <= 0;
              o_state <= O_FOLD;
            end if;

          when O_FOLD =>
            -- reflect101 needs the walk at index M of the first line and column
            if o_cnt < M then
              hfold <= step(hfold, o_w);
              vwalk <= step(vwalk, o_h);
              o_cnt <= o_cnt + 1;
            else
              hstart  <= walk_start(hfold, 0);
              vwalk   <= walk_start(vwalk, o_b);
              o_cnt   <= 0;
              o_state <= O_WINDOW;
            end if;

          when O_WINDOW =>
            -- the vertical window of line 0: lines -M .. M
            if o_cnt < N then
              window_next_line;
              o_cnt <= o_cnt + 1;
            else
              o_left  <= o_h - 1;
              o_top   <= true;
              o_state <= O_WAIT;
            end if;

          when O_WAIT =>
            -- line y needs input lines up to min(y + M, H - 1); a line the
            -- input completes at this edge can be read from the next
            if lead + avail_inc >= lines_needed(o_left) then
              hcur    <= hstart;
              o_k     <= 0;
              o_state <= O_ISSUE;
            end if;

          when O_ISSUE =>
            if adv then
              -- the buffers read column hcur.c at this edge
              s1_valid <= true;
              s1_sel   <= vsel;
              s1_zero  <= vzero;
              s1_hzero <= hcur.z;
              s1_out   <= o_k >= 2 * M;
              s1_first <= '1' when o_top and o_k = 2 * M else '0';
              s1_last  <= '1' when o_k = o_w - 1 + 2 * M else '0';
              if o_k = o_w - 1 + 2 * M then
                out_cnt <= out_cnt + 1;
                if o_left = 0 then
                  o_state <= O_IDLE;
                else
                  o_left <= o_left - 1;
                  o_top  <= false;
                  window_next_line;
                  -- go straight on if the next line is in (lead drops by
                  -- one as this line is done)
                  if lead + avail_inc >= lines_needed(o_left - 1) + 1 then
                    hcur <= hstart;
                    o_k  <= 0;
                  else
                    o_state <= O_WAIT;
                  end if;
                end if;
              else
                hcur <= step(hcur, o_w);
                o_k  <= o_k + 1;
              end if;
            end if;
        end case;
      end if;
    end if;
  end process;

  m_axis_tvalid <= m_valid;
end architecture rtl;
