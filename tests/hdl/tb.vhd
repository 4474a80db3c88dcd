-- SPDX-License-Identifier: MIT
-- Writes TAPS on one line and fails unless it sums to 2**SHIFT.
use std.textio.all;
use work.gauss_pkg.all;

entity tb is
end entity tb;

architecture sim of tb is
begin
  process
    variable text : line;
    variable sum : natural := 0;
  begin
    for i in TAPS'range loop
      sum := sum + TAPS(i);
      write(text, integer'image(TAPS(i)));
      if i < N - 1 then
        write(text, string'(" "));
      end if;
    end loop;
    writeline(output, text);
    assert sum = 2 ** SHIFT report "sum differs" severity failure;
    wait;
  end process;
end architecture sim;
