-- SPDX-License-Identifier: MIT
--
-- Co-simulation bench for tapsmith_blur under GHDL: tb_blur.sv in VHDL, cycle for cycle (the same
-- xorshift32 stimulus, stalls and checks), so that the output beats of all three simulators can be
-- compared by the cycle they leave on. CFG_FILE ("N SHIFT P BORDER MAX_WIDTH CHANNELS ALPHA PPC
-- t0 .. t(N-1)") sets the core's generics; VEC_FILE holds records "stray K" and "frame W H K",
-- each followed by its K input beats and, for a frame the core accepts (W and H not 0, W at most
-- MAX_WIDTH and a multiple of PPC), its W*H/PPC expected output beats, a beat a line in hex (PPC
-- pixels, pixel 0 in the low bits, each pixel's channels side by side, channel 0 lowest).
--   ghdl -r --std=08 tb_blur -gCFG_FILE=CASE.cfg -gVEC_FILE=CASE.vec [-gSEED=S]
--     [-gNOSTALL=true [-gPERIOD=C] [-gLATENCY=L]]   (both sides always ready; frames C cycles
--     apart, the input never waiting; the first output beat L + m*(W/PPC) + ceil(m/PPC) cycles
--     after the first input)
-- The last line is "PASS <pixels> pixels in <frames> frames, <cycles> cycles, timing <hash>"; a
-- failure prints "FAIL <reason>" and stops with a non-zero exit.
library ieee;
use ieee.std_logic_1164.all;
use ieee.numeric_std.all;
use std.textio.all;
use std.env.all;

entity tb_blur is
  generic (
    CFG_FILE : string   := "case.cfg";
    VEC_FILE : string   := "case.vec";
    SEED     : natural  := 1;
    NOSTALL  : boolean  := false;
    PERIOD   : natural  := 0;
    LATENCY  : natural  := 0);
end entity tb_blur;

architecture sim of tb_blur is
  impure function read_cfg(name : string) return integer_vector is
    file f          : text;
    variable status : file_open_status;
    variable l      : line;
    variable v      : integer_vector(0 to 7 + 4096);
    variable good   : boolean;
  begin
    file_open(status, f, name, read_mode);
    assert status = open_ok report "cannot open " & name severity failure;
    readline(f, l);
    for i in 0 to 7 loop
      read(l, v(i), good);
      assert good report name & ": expected N SHIFT P BORDER MAX_WIDTH CHANNELS ALPHA PPC" severity failure;
    end loop;
    assert v(0) mod 2 = 1 and v(0) <= 4096 report name & ": bad N" severity failure;
    assert v(7) >= 1 report name & ": bad PPC" severity failure;
    for i in 0 to v(0) - 1 loop
      read(l, v(8 + i), good);
      assert good report name & ": expected " & integer'image(v(0)) & " taps" severity failure;
    end loop;
    file_close(f);
    return v(0 to 7 + v(0));
  end function;

  constant CFG       : integer_vector := read_cfg(CFG_FILE);
  constant N         : natural := CFG(0);
  constant SHIFT     : natural := CFG(1);
  constant P         : natural := CFG(2);
  constant BORDER    : natural := CFG(3);
  constant MAX_WIDTH : natural := CFG(4);
  constant CHANNELS  : natural := CFG(5);
  constant ALPHA     : natural := CFG(6);
  constant PPC       : natural := CFG(7);
  constant TAPS      : integer_vector(0 to N - 1) := CFG(8 to 7 + N);
  constant CP        : natural := CHANNELS * P;
  constant BW        : natural := PPC * CP;  -- a beat
  constant HEX_DIGITS : natural := (BW + 3) / 4;  -- of a beat
  constant M         : natural := (N - 1) / 2;
  constant G         : natural := (M + PPC - 1) / PPC;  -- beats a beat's window reaches to either side
  constant HANG      : natural := 4 * (MAX_WIDTH + 2 * M) * (M + 2) + 4000;
  constant MAX_BEATS : natural := 2 ** 18;

  signal clk           : std_logic := '0';
  signal rst           : std_logic := '1';
  signal width, height : std_logic_vector(15 downto 0) := (others => '0');
  signal s_valid       : std_logic := '0';
  signal s_ready       : std_logic;
  signal s_data        : std_logic_vector(BW - 1 downto 0) := (others => '0');
  signal s_user        : std_logic := '0';
  signal s_last        : std_logic := '0';
  signal m_valid       : std_logic;
  signal m_ready       : std_logic := '0';
  signal m_data        : std_logic_vector(BW - 1 downto 0);
  signal m_user        : std_logic;
  signal m_last        : std_logic;

  type ints is access integer_vector;
  type beat_vector is array (natural range <>) of std_logic_vector(BW - 1 downto 0);
  type beats is access beat_vector;
  type bits is access boolean_vector;

  procedure fail(msg : string) is
    variable l : line;
  begin
    write(l, "FAIL " & msg);
    writeline(output, l);
    report "tb_blur failed" severity failure;
  end procedure;

  -- The next whitespace-separated word of f, cut to word'length, in word(1 to len); len = 0 at
  -- the end of the file.
  procedure next_word(file f : text; l : inout line; word : out string; len : out natural) is
    variable c : character;
  begin
    len := 0;
    loop
      while l /= null and l'length > 0 and (l(l'left) = ' ' or l(l'left) = HT or l(l'left) = CR) loop
        read(l, c);
      end loop;
      exit when l /= null and l'length > 0;
      if endfile(f) then
        return;
      end if;
      readline(f, l);
    end loop;
    while l'length > 0 and not (l(l'left) = ' ' or l(l'left) = HT or l(l'left) = CR) loop
      read(l, c);
      if len < word'length then
        word(word'low + len) := c;
      end if;
      len := len + 1;
    end loop;
  end procedure;

  -- A hexadecimal digit's value; 99 for anything else.
  function digit(c : character) return natural is
  begin
    case c is
      when '0' to '9' => return character'pos(c) - character'pos('0');
      when 'a' to 'f' => return character'pos(c) - character'pos('a') + 10;
      when 'A' to 'F' => return character'pos(c) - character'pos('A') + 10;
      when others     => return 99;
    end case;
  end function;

  -- A decimal number of at most 8 digits.
  procedure read_number(file f : text; l : inout line; v : out integer) is
    variable word : string(1 to 12);
    variable len  : natural;
    variable r    : integer := 0;
  begin
    next_word(f, l, word, len);
    if len = 0 or len > 8 then
      fail(VEC_FILE & ": a number is missing or too long");
    end if;
    for i in 1 to len loop
      if digit(word(i)) > 9 then
        fail(VEC_FILE & ": bad number '" & word(1 to len) & "'");
      end if;
      r := r * 10 + digit(word(i));
    end loop;
    v := r;
  end procedure;

  -- A beat in hex, all its pixels: at most as many digits as BW bits need, and no bit above. Each
  -- digit goes straight to its place: shifting the whole beat for every digit would cost as much
  -- as the rest of reading, with beats up to 512 bits.
  procedure read_beat(file f : text; l : inout line; v : out std_logic_vector(BW - 1 downto 0)) is
    variable word : string(1 to HEX_DIGITS);
    variable len  : natural;
    variable d    : natural;
    -- a digit more than a beat needs, so that the bits above BW are never a null range
    variable r    : unsigned(4 * HEX_DIGITS + 3 downto 0) := (others => '0');
  begin
    next_word(f, l, word, len);
    if len = 0 or len > HEX_DIGITS then
      fail(VEC_FILE & ": a beat is missing or too long");
    end if;
    for i in 1 to len loop
      d := digit(word(i));
      if d > 15 then
        fail(VEC_FILE & ": bad beat '" & word(1 to len) & "'");
      end if;
      r(4 * (len - i) + 3 downto 4 * (len - i)) := to_unsigned(d, 4);
    end loop;
    if r(r'high downto BW) /= 0 then
      fail(VEC_FILE & ": beat '" & word(1 to len) & "' wider than " & integer'image(BW) & " bits");
    end if;
    v := std_logic_vector(r(BW - 1 downto 0));
  end procedure;

  -- xorshift32: the same stalls as the SystemVerilog bench.
  procedure next_rand(rng : inout unsigned(31 downto 0)) is
  begin
    rng := rng xor shift_left(rng, 13);
    rng := rng xor shift_right(rng, 17);
    rng := rng xor shift_left(rng, 5);
  end procedure;

  -- Noise for the idle data lines: the random word repeated across the beat, as the
  -- SystemVerilog bench does.
  function repeated(r : unsigned(31 downto 0)) return std_logic_vector is
    variable v : std_logic_vector(BW - 1 downto 0);
  begin
    for i in v'range loop
      v(i) := r(i mod 32);
    end loop;
    return v;
  end function;

  function low(r : unsigned(31 downto 0); count : natural) return natural is
  begin
    return to_integer(r(count - 1 downto 0));
  end function;

  function hex8(v : unsigned(31 downto 0)) return string is
    constant DIGITS : string(1 to 16) := "0123456789abcdef";
    variable s      : string(1 to 8);
  begin
    for i in 0 to 7 loop
      s(8 - i) := DIGITS(to_integer(v(4 * i + 3 downto 4 * i)) + 1);
    end loop;
    return s;
  end function;

  function img(v : integer) return string is
  begin
    return integer'image(v);
  end function;
begin
  clk <= not clk after 5 ns;

  dut : entity work.tapsmith_blur
    generic map (N => N, SHIFT => SHIFT, TAPS => TAPS, P => P, MAX_WIDTH => MAX_WIDTH,
                 BORDER => BORDER, CHANNELS => CHANNELS, ALPHA => ALPHA, PPC => PPC)
    port map (clk => clk, rst => rst, width => width, height => height,
              s_axis_tvalid => s_valid, s_axis_tready => s_ready, s_axis_tdata => s_data,
              s_axis_tuser => s_user, s_axis_tlast => s_last,
              m_axis_tvalid => m_valid, m_axis_tready => m_ready, m_axis_tdata => m_data,
              m_axis_tuser => m_user, m_axis_tlast => m_last);

  bench : process
    -- Input beats and expected output beats, read before the clock starts.
    variable in_w, in_h : ints := new integer_vector(0 to MAX_BEATS - 1);
    variable in_data, exp_data : beats := new beat_vector(0 to MAX_BEATS - 1);
    variable in_user, in_last, exp_user, exp_last : bits := new boolean_vector(0 to MAX_BEATS - 1);
    variable n_in, n_exp, frames : natural := 0;

    file f           : text;
    variable status  : file_open_status;
    variable l, msg  : line;
    variable word    : string(1 to 8);
    variable len     : natural;
    variable w, h, k, wb, frame_beats : integer;
    variable open_short : boolean := false;

    variable rng : unsigned(31 downto 0) := to_unsigned(1, 32);
    variable in_prob, out_prob, phase_left : natural := 8;
    variable cycle, idle, in_idx, out_idx, drain, idx : natural := 0;
    variable started, last_start, last_out, waited, first_in : natural := 0;
    variable timing : unsigned(31 downto 0) := (others => '0');
    variable was_stalled : boolean := false;
    variable stalled_data : std_logic_vector(BW - 1 downto 0);
    variable stalled_user, stalled_last : std_logic;
  begin
    phase_left := 0;
    if SEED /= 0 then
      rng := to_unsigned(SEED, 32);
    end if;
    file_open(status, f, VEC_FILE, read_mode);
    if status /= open_ok then
      fail("cannot open " & VEC_FILE);
    end if;
    loop
      next_word(f, l, word, len);
      exit when len = 0;
      if word(1 to len) = "stray" then
        if open_short then
          fail("stray beats right after a cut-short frame would be its beats");
        end if;
        read_number(f, l, k);
        for i in 0 to k - 1 loop
          if n_in = MAX_BEATS then
            fail(VEC_FILE & ": more than " & img(MAX_BEATS) & " input beats");
          end if;
          read_beat(f, l, in_data(n_in));
          in_user(n_in) := false;
          in_last(n_in) := false;
          in_w(n_in) := -1;
          in_h(n_in) := -1;
          n_in := n_in + 1;
        end loop;
      elsif word(1 to len) = "frame" then
        read_number(f, l, w);
        read_number(f, l, h);
        read_number(f, l, k);
        if w > 65535 or h > 65535 or k < 1 then
          fail("bad frame record");
        end if;
        wb := w / PPC;  -- beats a row
        for i in 0 to k - 1 loop
          if n_in = MAX_BEATS then
            fail(VEC_FILE & ": more than " & img(MAX_BEATS) & " input beats");
          end if;
          read_beat(f, l, in_data(n_in));
          in_user(n_in) := i = 0;
          in_last(n_in) := wb /= 0 and i mod wb = wb - 1;
          -- The size only on the first beat: whatever is on the others must not matter.
          in_w(n_in) := w when i = 0 else -1;
          in_h(n_in) := h when i = 0 else -1;
          n_in := n_in + 1;
        end loop;
        -- A frame the core must refuse (zero size, too wide, a width not a multiple of PPC) has no
        -- expected beats.
        frame_beats := 0 when w = 0 or h = 0 or w > MAX_WIDTH or w mod PPC /= 0 else wb * h;
        for i in 0 to frame_beats - 1 loop
          if n_exp = MAX_BEATS then
            fail(VEC_FILE & ": more than " & img(MAX_BEATS) & " output beats");
          end if;
          read_beat(f, l, exp_data(n_exp));
          exp_user(n_exp) := i = 0;
          exp_last(n_exp) := i mod wb = wb - 1;
          n_exp := n_exp + 1;
        end loop;
        if frame_beats /= 0 then
          frames := frames + 1;
        end if;
        open_short := frame_beats /= 0 and k < frame_beats;
      else
        fail(VEC_FILE & ": unknown record '" & word(1 to minimum(len, word'length)) & "'");
      end if;
    end loop;
    file_close(f);
    if open_short then
      fail("the last frame is cut short, but no start of frame follows to end it");
    end if;

    loop
      wait until rising_edge(clk);
      if cycle = 4 then
        rst <= '0';
      end if;
      if rst = '0' then
        if idle > HANG and (in_idx < n_in or out_idx < n_exp) then
          fail("hang: " & img(in_idx) & " of " & img(n_in) & " input beats taken, " & img(out_idx) &
               " of " & img(n_exp) & " output beats seen");
        end if;
        idle := idle + 1;
        if s_valid = '1' and s_ready = '0' and in_idx > 0 then
          waited := waited + 1;
        end if;
        if s_valid = '1' and s_ready = '1' then
          idle := 0;
          if in_idx = 0 then
            first_in := cycle;
          end if;
          in_idx := in_idx + 1;
        end if;
        if was_stalled and (m_valid /= '1' or m_data /= stalled_data or m_user /= stalled_user or
                            m_last /= stalled_last) then
          fail("beat " & img(out_idx) & ": output changed or withdrawn before it was taken");
        end if;
        was_stalled := m_valid = '1' and m_ready = '0';
        stalled_data := m_data;
        stalled_user := m_user;
        stalled_last := m_last;
        if m_valid = '1' and m_ready = '1' then
          idle := 0;
          if out_idx >= n_exp then
            fail("extra output beat " & to_hstring(m_data) & " after all " & img(n_exp) & " expected");
          end if;
          if is_x(m_data) or m_data /= exp_data(out_idx) or
             (m_user = '1') /= exp_user(out_idx) or (m_last = '1') /= exp_last(out_idx) then
            fail("beat " & img(out_idx) & ": got data " & to_hstring(m_data) & " user " &
                 std_logic'image(m_user) & " last " & std_logic'image(m_last) & ", want " &
                 to_hstring(exp_data(out_idx)) & " " & boolean'image(exp_user(out_idx)) &
                 " " & boolean'image(exp_last(out_idx)));
          end if;
          if out_idx = 0 and LATENCY /= 0 and cycle - first_in /= LATENCY + M * (in_w(0) / PPC) + G then
            fail("the first beat left " & img(cycle - first_in) & " cycles after the first input, not " &
                 img(LATENCY) & " + " & img(M * (in_w(0) / PPC) + G));
          end if;
          timing := resize(timing * 31, 32) + cycle;
          last_out := cycle;
          if exp_user(out_idx) then
            if PERIOD /= 0 and started /= 0 and cycle - last_start /= PERIOD then
              fail("frame " & img(started) & " started " & img(cycle - last_start) &
                   " cycles after the last one, not " & img(PERIOD));
            end if;
            started := started + 1;
            last_start := cycle;
          end if;
          out_idx := out_idx + 1;
        end if;

        if phase_left = 0 then
          next_rand(rng);
          phase_left := 32 + low(rng, 8);
          if not NOSTALL then
            next_rand(rng);
            in_prob := low(rng, 2) * 2 + 2;
            next_rand(rng);
            out_prob := low(rng, 2) * 2 + 2;
          end if;
        else
          phase_left := phase_left - 1;
        end if;

        -- Input: a beat once offered stays until taken.
        if not (s_valid = '1' and s_ready = '0') then
          idx := in_idx;
          if idx < n_in then
            next_rand(rng);
          end if;
          if idx < n_in and low(rng, 3) < in_prob then
            s_valid <= '1';
            s_data <= in_data(idx);
            s_user <= '1' when in_user(idx) else '0';
            s_last <= '1' when in_last(idx) else '0';
            if in_w(idx) < 0 then
              next_rand(rng);
              width <= std_logic_vector(rng(15 downto 0));
              next_rand(rng);
              height <= std_logic_vector(rng(15 downto 0));
            else
              width <= std_logic_vector(to_unsigned(in_w(idx), 16));
              height <= std_logic_vector(to_unsigned(in_h(idx), 16));
            end if;
          else
            -- Nothing offered: noise on the lines, which the core must not pick up; the random word
            -- repeated across the beat.
            s_valid <= '0';
            next_rand(rng);
            s_data <= repeated(rng);
            next_rand(rng);
            s_user <= rng(0);
            next_rand(rng);
            s_last <= rng(0);
            next_rand(rng);
            width <= std_logic_vector(rng(15 downto 0));
            next_rand(rng);
            height <= std_logic_vector(rng(15 downto 0));
          end if;
        end if;
        next_rand(rng);
        m_ready <= '1' when low(rng, 3) < out_prob else '0';

        -- After the last expected beat, wait a while on a ready output for anything extra.
        if in_idx = n_in and out_idx = n_exp then
          drain := drain + 1;
          m_ready <= '1';
          if drain = 8 * (MAX_WIDTH + 2 * M) + 200 then
            if PERIOD /= 0 and waited /= 0 then
              fail("the input waited " & img(waited) & " cycles");
            end if;
            write(msg, "PASS " & img(n_exp * PPC) & " pixels in " & img(frames) & " frames, " &
                  img(last_out) & " cycles, timing " & hex8(timing));
            writeline(output, msg);
            finish;
          end if;
        end if;
      end if;
      cycle := cycle + 1;
    end loop;
  end process;
end architecture sim;
