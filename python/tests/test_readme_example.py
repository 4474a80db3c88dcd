# SPDX-License-Identifier: MIT
# The README's example runs as printed, and catches the stand-in core's
# double rounding.
import pathlib
import re
import subprocess
import sys

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_the_example_runs_and_finds_the_fault():
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)
    assert len(blocks) == 1
    assert len(blocks[0].splitlines()) <= 15
    done = subprocess.run([sys.executable, "-c", blocks[0]], capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    assert re.fullmatch(r"[1-9]\d* of 19200 pixels differ, first at \(y, x\) = \(\d+, \d+\)\n", done.stdout), done.stdout
