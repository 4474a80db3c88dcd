#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Synthesises one configuration of a filter core with Yosys and prints its cells on one line:
#   LUT FF BRAM DSP LATCH CARRY OTHER
# (iCE40: SB_LUT4, SB_DFF*, SB_RAM40_4K, SB_MAC16, latches, SB_CARRY, cells left unmapped;
#  xc7: LUT1..6, FD*, RAMB18/RAMB36 (a RAMB36 counts two), DSP48E1, latches, CARRY4, unmapped).
# The VHDL core goes through ghdl --synth (a wrapper entity sets TAPS, which -g cannot).
#   tests/hdl/core/synth_one.sh sv|vhdl ice40|xc7 WORK_DIR N MAX_WIDTH TAP...
# P = 8, SHIFT = log2(sum of the taps), BORDER 0 (reflect101), CHANNELS and PPC from the
# environment (default 1). iCE40 leaves WORK_DIR/netlist.json
# for nextpnr-ice40, and synthesises with -dsp: no multiplier may appear even where Yosys may
# use one. With PINS=few the core is wrapped so that width and height come from a 32-bit shift
# register loaded through two pins (27 pins in all, for packages as small as the UP5K's sg48).
set -euo pipefail
if [ $# -lt 6 ]; then
    echo "usage: $0 sv|vhdl ice40|xc7 WORK_DIR N MAX_WIDTH TAP..." >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
hdl=$(realpath "$here/../../../hdl")
lang=$1 target=$2 work=$3 n=$4 width=$5
shift 5
taps=("$@")
[ ${#taps[@]} -eq "$n" ] || { echo "$n taps expected, ${#taps[@]} given" >&2; exit 2; }
sum=0
for t in "${taps[@]}"; do sum=$((sum + t)); done
shift_bits=0
while [ $((1 << shift_bits)) -lt "$sum" ]; do shift_bits=$((shift_bits + 1)); done
mkdir -p "$work"
channels=${CHANNELS:-1}
ppc=${PPC:-1}
msb=$((8 * channels * ppc - 1))

top=tapsmith_blur
wrap=""
if [ "${PINS:-all}" = few ]; then
    top=cost_top
    cat >"$work/cost_top.v" <<VERILOG
module cost_top (input clk, rst, cfg_in, cfg_shift, s_axis_tvalid, output s_axis_tready,
                 input [$msb:0] s_axis_tdata, input s_axis_tuser, s_axis_tlast, output m_axis_tvalid,
                 input m_axis_tready, output [$msb:0] m_axis_tdata, output m_axis_tuser, m_axis_tlast);
  reg [31:0] cfg;
  always @(posedge clk) if (cfg_shift) cfg <= {cfg[30:0], cfg_in};
  tapsmith_blur core (.clk(clk), .rst(rst), .width(cfg[15:0]), .height(cfg[31:16]),
    .s_axis_tvalid(s_axis_tvalid), .s_axis_tready(s_axis_tready), .s_axis_tdata(s_axis_tdata),
    .s_axis_tuser(s_axis_tuser), .s_axis_tlast(s_axis_tlast), .m_axis_tvalid(m_axis_tvalid),
    .m_axis_tready(m_axis_tready), .m_axis_tdata(m_axis_tdata), .m_axis_tuser(m_axis_tuser),
    .m_axis_tlast(m_axis_tlast));
endmodule
VERILOG
    wrap="read_verilog $work/cost_top.v"
fi
case $target in
ice40) synth="synth_ice40 -dsp -top $top -json $work/netlist.json" ;;
xc7) synth="synth_xilinx -family xc7 -flatten -top $top" ;;
*) echo "unknown target $target" >&2; exit 2 ;;
esac

if [ "$lang" = sv ]; then
    hex=""
    for ((i = n - 1; i >= 0; i--)); do hex+=$(printf '%08x' "${taps[i]}"); done
    read="read_verilog -sv $hdl/tapsmith_blur.sv
chparam -set N $n -set SHIFT $shift_bits -set P 8 -set MAX_WIDTH $width -set BORDER 0 -set CHANNELS $channels -set PPC $ppc -set TAPS $((32 * n))'h$hex tapsmith_blur"
else
    list=$(IFS=,; echo "${taps[*]}")
    [ "$n" -gt 1 ] || list="0 => $list"
    cat >"$work/top.vhd" <<VHDL
library ieee;
use ieee.std_logic_1164.all;
entity top is
  port (clk, rst : in std_logic; width, height : in std_logic_vector(15 downto 0);
        s_axis_tvalid : in std_logic; s_axis_tready : out std_logic;
        s_axis_tdata : in std_logic_vector($msb downto 0); s_axis_tuser, s_axis_tlast : in std_logic;
        m_axis_tvalid : out std_logic; m_axis_tready : in std_logic;
        m_axis_tdata : out std_logic_vector($msb downto 0); m_axis_tuser, m_axis_tlast : out std_logic);
end entity;
architecture wrap of top is
begin
  core : entity work.tapsmith_blur
    generic map (N => $n, SHIFT => $shift_bits, TAPS => ($list), P => 8, MAX_WIDTH => $width, BORDER => 0,
                 CHANNELS => $channels, PPC => $ppc)
    port map (clk, rst, width, height, s_axis_tvalid, s_axis_tready, s_axis_tdata, s_axis_tuser,
              s_axis_tlast, m_axis_tvalid, m_axis_tready, m_axis_tdata, m_axis_tuser, m_axis_tlast);
end architecture;
VHDL
    ghdl --synth --std=08 --workdir="$work" --out=verilog "$hdl/tapsmith_blur.vhd" "$work/top.vhd" -e top \
        >"$work/netlist_vhdl.v" 2>"$work/ghdl.log" || { cat "$work/ghdl.log" >&2; exit 1; }
    read="read_verilog $work/netlist_vhdl.v
rename top tapsmith_blur"
fi

yosys -p "$read
$wrap
$synth
check -assert
stat" >"$work/yosys.log" 2>&1 || { grep -m5 'ERROR' "$work/yosys.log" >&2; exit 1; }
# The final statistics: the last "Printing statistics" section of the log.
stats=$(awk '/Printing statistics/ { s = "" } { s = s $0 "\n" } END { printf "%s", s }' "$work/yosys.log")
count() { awk -v pat="$1" '$1 ~ pat { n += $2 } END { print n + 0 }' <<<"$stats"; }
latches=$(($(grep -c '^Latch inferred' "$work/yosys.log" || true) + $(count 'DLATCH|LDCE|LDPE')))
if [ "$target" = ice40 ]; then
    echo "$(count '^SB_LUT4$') $(count '^SB_DFF') $(count '^SB_RAM40_4K$') $(count '^SB_MAC16$') $latches" \
        "$(count '^SB_CARRY$') $(count '^\$')"
else
    echo "$(($(count '^LUT[1-6]$') + $(count '^INV$'))) $(count '^FD') $(($(count '^RAMB18') + 2 * $(count '^RAMB36'))) $(count '^DSP48')" \
        "$latches $(count '^CARRY4$') $(count '^\$')"
fi
