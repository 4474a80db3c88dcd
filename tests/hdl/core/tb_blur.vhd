-- SPDX-License-Identifier: MIT
-- Co-simulates tapsmith_blur against the golden model's vectors. CFG_FILE
-- holds "N SHIFT P BORDER MAX_WIDTH t0 .. t(N-1)" and sets the core's
-- generics; VEC_FILE holds the records
--   stray K          K input pixels sent outside any frame
--   frame W H K      K input pixels (the first with tuser), then W*H outputs
--                    (none if W > MAX_WIDTH: the core drops such a frame)
-- (pixels in hex, one a line, '#' lines are comments). The driver sends the
-- inputs with random gaps, the checker takes the outputs with random stalls
-- (both from SEED) and compares every beat: data, tuser on a frame's first
-- pixel, tlast on each line's last one. A wrong, missing or extra beat, an
-- output beat that changes while stalled, or a hang stops the run with a
-- failure (non-zero exit); otherwise it ends with
-- "PASS <pixels> pixels in <frames> frames, <cycles> cycles".
--   ghdl -r --std=08 tb_blur -gCFG_FILE=case.cfg -gVEC_FILE=case.vec [-gSEED=n]
--     [-gSTALLS=false]   (no stalls: the cycle count is the core's throughput)
library ieee;
use ieee.std_logic_1164.all;
use ieee.numeric_std.all;
use ieee.math_real.all;
use std.textio.all;
use std.env.all;

entity tb_blur is
  generic (
    CFG_FILE    : string   := "case.cfg";
    VEC_FILE    : string   := "case.vec";
    SEED        : positive := 1;
    STALLS      : boolean  := true);
end entity tb_blur;

architecture sim of tb_blur is
  impure function read_cfg(name : string) return integer_vector is
    file f          : text;
    variable status : file_open_status;
    variable l      : line;
    variable v      : integer_vector(0 to 4 + 4096);
    variable good   : boolean;
  begin
    file_open(status, f, name, read_mode);
    assert status = open_ok report "cannot open " & name severity failure;
    readline(f, l);
    for i in 0 to 4 loop
      read(l, v(i), good);
      assert good report name & ": expected N SHIFT P BORDER MAX_WIDTH" severity failure;
    end loop;
    assert v(0) mod 2 = 1 and v(0) <= 4096 report name & ": bad N" severity failure;
    for i in 0 to v(0) - 1 loop
      read(l, v(5 + i), good);
      assert good report name & ": expected " & integer'image(v(0)) & " taps" severity failure;
    end loop;
    file_close(f);
    return v(0 to 4 + v(0));
  end function;

  constant CFG       : integer_vector := read_cfg(CFG_FILE);
  constant N         : natural := CFG(0);
  constant SHIFT     : natural := CFG(1);
  constant P         : natural := CFG(2);
  constant BORDER    : natural := CFG(3);
  constant MAX_WIDTH : natural := CFG(4);
  constant TAPS      : integer_vector(0 to N - 1) := CFG(5 to 4 + N);

  signal clk           : std_logic := '0';
  signal rst           : std_logic := '1';
  signal width, height : std_logic_vector(15 downto 0) := (others => '0');
  signal s_valid       : std_logic := '0';
  signal s_ready       : std_logic;
  signal s_data        : std_logic_vector(P - 1 downto 0) := (others => '0');
  signal s_user        : std_logic := '0';
  signal s_last        : std_logic := '0';
  signal m_valid       : std_logic;
  signal m_ready       : std_logic := '0';
  signal m_data        : std_logic_vector(P - 1 downto 0);
  signal m_user        : std_logic;
  signal m_last        : std_logic;
  signal sent_all      : boolean := false;
  signal checked_all   : boolean := false;
  signal cycle         : natural := 0;
  signal widest        : natural := 1;      -- the widest frame sent so far

  -- Next non-comment, non-blank line of f, its first word (cut to word'length)
  -- in word(1 to len).
  procedure next_record(file f : text; l : inout line; word : out string; len : out natural;
                        at_end : out boolean) is
    variable c    : character;
    variable good : boolean;
  begin
    at_end := false;
    len := 0;
    loop
      if endfile(f) then
        at_end := true;
        return;
      end if;
      readline(f, l);
      while l'length > 0 and (l(l'left) = ' ' or l(l'left) = HT) loop
        read(l, c);
      end loop;
      exit when l'length > 0 and l(l'left) /= '#';
    end loop;
    while l'length > 0 loop
      exit when l(l'left) = ' ' or l(l'left) = HT;
      read(l, c, good);
      if len < word'length then   -- longer words are unknown anyway
        word(word'low + len) := c;
        len := len + 1;
      end if;
    end loop;
  end procedure;

  procedure read_count(l : inout line; name : string; v : out natural) is
    variable i    : integer;
    variable good : boolean;
  begin
    read(l, i, good);
    assert good and i >= 0 report VEC_FILE & ": bad " & name severity failure;
    v := i;
  end procedure;

  -- one hex pixel a line
  procedure read_hex(file f : text; l : inout line; v : out natural) is
    variable r : natural := 0;
    variable d : integer;
    variable seen : boolean := false;
  begin
    assert not endfile(f) report VEC_FILE & ": ends inside a record" severity failure;
    readline(f, l);
    for i in l'range loop
      case l(i) is
        when '0' to '9' => d := character'pos(l(i)) - character'pos('0');
        when 'a' to 'f' => d := character'pos(l(i)) - character'pos('a') + 10;
        when 'A' to 'F' => d := character'pos(l(i)) - character'pos('A') + 10;
        when ' ' | HT | CR => d := -1;
        when others =>
          report VEC_FILE & ": bad hex pixel '" & l.all & "'" severity failure;
      end case;
      if d >= 0 then
        assert r < 2 ** 26 report VEC_FILE & ": pixel too large" severity failure;
        r := r * 16 + d;
        seen := true;
      end if;
    end loop;
    assert seen report VEC_FILE & ": empty pixel line" severity failure;
    v := r;
  end procedure;

  -- the core drops frames too wide for its line buffers
  function frame_pixels(w, h : natural) return natural is
  begin
    if w > MAX_WIDTH then
      return 0;
    end if;
    return w * h;
  end function;

  -- Whether a side stalls this cycle. The stall rate changes in bursts of 20
  -- to 300 cycles, so that each side is at times much faster than the other
  -- and the core's flow control gets exercised both ways.
  type stall_t is record
    s1, s2  : positive;
    percent : natural;
    left    : natural;
  end record;

  procedure stall_now(st : inout stall_t; hit : out boolean) is
    constant RATES : integer_vector := (0, 10, 30, 60, 95);
    variable r : real;
  begin
    if not STALLS then
      hit := false;
      return;
    end if;
    if st.left = 0 then
      uniform(st.s1, st.s2, r);
      st.percent := RATES(integer(floor(r * real(RATES'length))) mod RATES'length);
      uniform(st.s1, st.s2, r);
      st.left := 20 + integer(floor(r * 280.0));
    end if;
    st.left := st.left - 1;
    uniform(st.s1, st.s2, r);
    hit := r * 100.0 < real(st.percent);
  end procedure;
begin
  clk <= not clk after 5 ns;
  cycle <= cycle + 1 when rising_edge(clk) and rst = '0';

  dut : entity work.tapsmith_blur
    generic map (N => N, SHIFT => SHIFT, TAPS => TAPS, P => P, MAX_WIDTH => MAX_WIDTH,
                 BORDER => BORDER)
    port map (clk => clk, rst => rst, width => width, height => height,
              s_axis_tvalid => s_valid, s_axis_tready => s_ready, s_axis_tdata => s_data,
              s_axis_tuser => s_user, s_axis_tlast => s_last,
              m_axis_tvalid => m_valid, m_axis_tready => m_ready, m_axis_tdata => m_data,
              m_axis_tuser => m_user, m_axis_tlast => m_last);

  driver : process
    file f          : text;
    variable status : file_open_status;
    variable l      : line;
    variable word   : string(1 to 8);
    variable wlen   : natural;
    variable at_end : boolean;
    variable st     : stall_t := (s1 => SEED, s2 => 7919, percent => 0, left => 0);
    variable idle   : boolean;
    variable w, h, k, px, skip : natural;
    variable sof, eol : std_logic;

    procedure send(pixel : natural; user, last : std_logic) is
    begin
      loop
        stall_now(st, idle);
        exit when not idle;
        s_valid <= '0';
        wait until rising_edge(clk);
      end loop;
      s_valid <= '1';
      s_data  <= std_logic_vector(to_unsigned(pixel, P));
      s_user  <= user;
      s_last  <= last;
      loop
        wait until rising_edge(clk);
        exit when s_ready = '1';
      end loop;
      s_valid <= '0';
      s_user  <= '0';
    end procedure;
  begin
    file_open(status, f, VEC_FILE, read_mode);
    assert status = open_ok report "cannot open " & VEC_FILE severity failure;
    for i in 1 to 4 loop
      wait until rising_edge(clk);
    end loop;
    rst <= '0';
    loop
      next_record(f, l, word, wlen, at_end);
      exit when at_end;
      if word(1 to wlen) = "stray" then
        read_count(l, "stray count", k);
        for i in 1 to k loop
          read_hex(f, l, px);
          send(px, '0', '0');
        end loop;
      elsif word(1 to wlen) = "frame" then
        read_count(l, "width", w);
        read_count(l, "height", h);
        read_count(l, "pixel count", k);
        if w > widest and w <= MAX_WIDTH then
          widest <= w;
        end if;
        width  <= std_logic_vector(to_unsigned(w, 16));
        height <= std_logic_vector(to_unsigned(h, 16));
        for i in 0 to k - 1 loop
          read_hex(f, l, px);
          sof := '0';
          eol := '0';
          if i = 0 then
            sof := '1';
          end if;
          if w > 0 and i mod w = w - 1 then
            eol := '1';
          end if;
          send(px, sof, eol);
        end loop;
        for i in 1 to frame_pixels(w, h) loop
          read_hex(f, l, skip);
        end loop;
      else
        report VEC_FILE & ": unknown record '" & word(1 to wlen) & "'" severity failure;
      end if;
    end loop;
    sent_all <= true;
    wait;
  end process;

  checker : process
    file f          : text;
    variable status : file_open_status;
    variable l      : line;
    variable word   : string(1 to 8);
    variable wlen   : natural;
    variable at_end : boolean;
    variable st     : stall_t := (s1 => SEED, s2 => 104729, percent => 0, left => 0);
    variable stall  : boolean;
    variable w, h, k, skip, want : natural;
    variable frames, pixels : natural := 0;
    variable where  : line;
    variable last_cycle : natural := 0;   -- of the last output beat, counted from reset
  begin
    file_open(status, f, VEC_FILE, read_mode);
    assert status = open_ok report "cannot open " & VEC_FILE severity failure;
    loop
      next_record(f, l, word, wlen, at_end);
      exit when at_end;
      if word(1 to wlen) = "stray" then
        read_count(l, "stray count", k);
      else
        read_count(l, "width", w);
        read_count(l, "height", h);
        read_count(l, "pixel count", k);
      end if;
      for i in 1 to k loop
        read_hex(f, l, skip);
      end loop;
      if word(1 to wlen) = "frame" and frame_pixels(w, h) > 0 then
        for i in 0 to frame_pixels(w, h) - 1 loop
          read_hex(f, l, want);
          loop
            stall_now(st, stall);
            m_ready <= '0' when stall else '1';
            wait until rising_edge(clk);
            exit when m_ready = '1' and m_valid = '1';
          end loop;
          if is_x(m_data) or to_integer(unsigned(m_data)) /= want or (m_user = '1') /= (i = 0) or
             (m_last = '1') /= (i mod w = w - 1) then
            write(where, "frame " & integer'image(frames) & " (" & integer'image(w) & "x" &
                  integer'image(h) & ") pixel (" & integer'image(i mod w) & ", " &
                  integer'image(i / w) & "): got data " & to_hstring(m_data) & " user " &
                  std_logic'image(m_user) & " last " & std_logic'image(m_last) &
                  ", want " & to_hstring(to_unsigned(want, P)));
            report CFG_FILE & ": " & where.all severity failure;
          end if;
          pixels := pixels + 1;
          last_cycle := cycle;
        end loop;
        frames := frames + 1;
      end if;
    end loop;
    -- anything more is an extra beat, while the last stray inputs go in and
    -- for a while after
    m_ready <= '1';
    k := 0;
    while k < 200 + 4 * (widest + N) loop
      wait until rising_edge(clk);
      assert m_valid = '0' report CFG_FILE & ": extra output beat after " &
        integer'image(pixels) & " pixels" severity failure;
      if sent_all then
        k := k + 1;
      end if;
    end loop;
    report "PASS " & integer'image(pixels) & " pixels in " & integer'image(frames) & " frames, " &
      integer'image(last_cycle) & " cycles" severity note;
    finish;
  end process;

  -- AXI4-Stream: once offered, an output beat stays, unchanged, until taken
  held : process
    variable was_stalled : boolean := false;
    variable data : std_logic_vector(P - 1 downto 0);
    variable user, last : std_logic;
  begin
    wait until rising_edge(clk);
    if was_stalled then
      assert m_valid = '1' and m_data = data and m_user = user and m_last = last
        report CFG_FILE & ": output beat withdrawn or changed while stalled" severity failure;
    end if;
    was_stalled := rst = '0' and m_valid = '1' and m_ready = '0';
    data := m_data;
    user := m_user;
    last := m_last;
  end process;

  -- The longest the core may legitimately sit without a transfer on either
  -- side is a frame's setup or a line or two of filling in zeros; this limit
  -- is generous.
  watchdog : process
    variable quiet : natural := 0;
    variable limit : natural;
  begin
    wait until rising_edge(clk);
    if (s_valid = '1' and s_ready = '1') or (m_valid = '1' and m_ready = '1') or
       (checked_all and sent_all) then
      quiet := 0;
    else
      quiet := quiet + 1;
      limit := 1000 + 8 * (N + 2) * (widest + N);
      assert quiet < limit report CFG_FILE & ": hang, no transfer for " &
        integer'image(limit) & " cycles" severity failure;
    end if;
  end process;
end architecture sim;
