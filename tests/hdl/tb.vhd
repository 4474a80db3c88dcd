-- SPDX-License-Identifier: MIT
-- Writes TAPS on one line and the adder plan (PRE_ADDS DIGIT_ADDERS
-- TREE_ADDERS ADDERS_PER_PASS) on a second, and fails unless TAPS sums to
-- 2**SHIFT; the package also plugs into the filter core's generics as it is.
library ieee;
use ieee.std_logic_1164.all;
use std.textio.all;
use work.gauss_pkg.all;

entity tb is
end entity tb;

architecture sim of tb is
  -- The widest pixels the core takes with these taps: P + 2 SHIFT <= 64.
  function pixel_bits return natural is
  begin
    if 2 * SHIFT + 8 > 64 then
      return 64 - 2 * SHIFT;
    end if;
    return 8;
  end function;
  constant PB : natural := pixel_bits;
  signal clk, rst : std_logic := '0';
  signal s_ready, m_valid, m_user, m_last : std_logic;
  signal m_data : std_logic_vector(PB - 1 downto 0);
begin
  core : entity work.tapsmith_blur
    generic map (N => N, SHIFT => SHIFT, TAPS => TAPS, P => PB, MAX_WIDTH => 16, BORDER => 0)
    port map (clk => clk, rst => rst, width => x"0004", height => x"0004",
              s_axis_tvalid => '0', s_axis_tready => s_ready, s_axis_tdata => (others => '0'),
              s_axis_tuser => '0', s_axis_tlast => '0',
              m_axis_tvalid => m_valid, m_axis_tready => '1', m_axis_tdata => m_data,
              m_axis_tuser => m_user, m_axis_tlast => m_last);

  process
    variable text : line;
    variable sum : integer := 0;
  begin
    for i in TAPS'range loop
      sum := sum + TAPS(i);
      write(text, integer'image(TAPS(i)));
      if i < N - 1 then
        write(text, string'(" "));
      end if;
    end loop;
    writeline(output, text);
    write(text, integer'image(PRE_ADDS) & " " & integer'image(DIGIT_ADDERS) & " " & integer'image(TREE_ADDERS) &
          " " & integer'image(ADDERS_PER_PASS));
    writeline(output, text);
    assert sum = 2 ** SHIFT report "sum differs" severity failure;
    wait;
  end process;
end architecture sim;
