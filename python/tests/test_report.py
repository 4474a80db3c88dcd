# SPDX-License-Identifier: MIT
# report() against `tapsmith DIM_MASK SIGMA`, byte for byte.
import math

import pytest
import tapsmith
from conftest import run

# (dim_mask, sigma, the words given to the program). The program reads the
# count with strtol and caps it, reads sigma with strtod and never refuses
# one; repr() of a float reads back as the same double.
ROWS = [
    (5, 1.0, "5"),
    (1, 0.5, "1"),
    (3, 0.8, "3"),
    (7, 2.0, "7"),
    (9, 1.5, "9"),
    (11, 1.0, "11"),
    (4, 1.0, "4"),
    (0, 1.0, "0"),
    (-4, 1.0, "-4"),
    (2**40, 1.0, "1099511627776"),
    (2**70, 1.0, "1180591620717411303424"),
    (-(2**70), 1.0, "-1180591620717411303424"),
    (5, 0.0, "5"),
    (5, -1.0, "5"),
    (5, 1e-300, "5"),
    (5, 1e300, "5"),
    (5, math.inf, "5"),
    (5, math.nan, "5"),
]


@pytest.mark.parametrize("dim_mask,sigma,word", ROWS, ids=[f"{r[2]} {r[1]!r}" for r in ROWS])
def test_report_is_the_programs_output(dim_mask, sigma, word):
    status, out, err = run("TAPSMITH", word, repr(sigma))
    assert status == 0, err
    assert tapsmith.report(dim_mask, sigma).encode() == out


def test_default_report():
    status, out, _ = run("TAPSMITH", "5", "1")
    assert status == 0
    assert tapsmith.report().encode() == out
    assert tapsmith.report(dim_mask=5, sigma=1.0) == tapsmith.report()


@pytest.mark.parametrize("args", [("5", 1.0), (5.0, 1.0), (5, "1")], ids=str)
def test_wrong_types_raise_type_error(args):
    with pytest.raises(TypeError):
        tapsmith.report(*args)


def test_reports_made_in_threads_at_once_match_reports_made_alone():
    # report() releases the GIL, so these run at the same time: the report
    # keeps no state of its own between runs.
    import concurrent.futures

    args = [(n, sigma) for n in (1, 3, 5, 7, 9, 0, 4) for sigma in (0.3, 1.0, 2.5)]
    alone = {a: tapsmith.report(*a) for a in args}
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        for a, text in zip(args * 20, pool.map(lambda a: tapsmith.report(*a), args * 20)):
            assert text == alone[a], a
