# SPDX-License-Identifier: MIT
# fixed_taps and fixed_figures against `tapsmith-fixed --format=json`, and
# every refused argument against the program's usage error.
import itertools
import json
import math

import pytest
import tapsmith
from conftest import run, usage_message

# (n, sigma, bits, pixel_bits, sampling): small and large counts, narrow and
# wide Gaussians, automatic sizes, accumulators of 64 bits and wider (the
# figures do not need them; only filtering does).
GRID = [
    (n, sigma, bits, pixel_bits, sampling)
    for (n, sigma), (bits, pixel_bits), sampling in itertools.product(
        [(1, 1.0), (3, 0.5), (5, 1.0), (7, 1.3), (9, 2.0), (15, 3.0), (127, 20.0), ("auto", 0.8), ("auto", 4.0)],
        [(8, 8), (1, 8), (16, 16), ("auto", 10), (24, 16), (30, 32)],
        ["point", "area"],
    )
]


def cli_json(n, sigma, bits, pixel_bits, sampling):
    status, out, err = run(
        "TAPSMITH_FIXED", "--format=json", f"--bits={bits}", f"--pixel-bits={pixel_bits}",
        f"--sampling={sampling}", n, repr(sigma))
    assert status == 0, err
    return json.loads(out)


@pytest.mark.parametrize("row", GRID, ids=str)
def test_figures_and_taps_equal_the_json_output(row):
    expected = cli_json(*row)
    figures = tapsmith.fixed_figures(*row)
    assert figures == expected
    # Key order too: the dict reads like the output.
    assert list(figures) == list(expected)
    n, sigma, bits, pixel_bits, sampling = row
    if pixel_bits == 8:
        assert tapsmith.fixed_taps(n, sigma, bits, sampling) == expected["taps"]


def test_defaults_are_the_programs():
    assert tapsmith.fixed_taps(5, 1.0) == cli_json(5, 1.0, 8, 8, "point")["taps"]
    assert tapsmith.fixed_figures(5, 1.0) == cli_json(5, 1.0, 8, 8, "point")


def test_taps_of_known_filters():
    # Worked by hand: 2^B times the normalised samples, already integers
    # summing to 2^B, or one tap.
    rows = [
        ((1, 1.0, 8), [256]),
        ((1, 0.1, 1), [2]),
        ((3, 1e-3, 4), [0, 16, 0]),
    ]
    for args, taps in rows:
        assert tapsmith.fixed_taps(*args) == taps, args


# Python arguments and the command-line words that say the same; the
# program refuses each with a usage error, and so must the module, with
# the same message. Floats are written as C++'s shortest form prints them.
REFUSED = [
    ("even n", dict(n=4), ["4"]),
    ("n zero", dict(n=0), ["0"]),
    ("n negative", dict(n=-3), ["-3"]),
    ("n above 127", dict(n=129), ["129"]),
    ("n beyond int32", dict(n=2**40), ["1099511627776"]),
    ("n beyond int64", dict(n=-(2**70)), ["-1180591620717411303424"]),
    ("sigma zero", dict(sigma=0.0), ["5", "0"]),
    ("sigma negative", dict(sigma=-1.0), ["5", "-1"]),
    ("sigma nan", dict(sigma=math.nan), ["5", "nan"]),
    ("sigma inf", dict(sigma=math.inf), ["5", "inf"]),
    ("sigma too small", dict(sigma=1e-300), ["5", "1e-300"]),
    ("auto n too large", dict(n="auto", sigma=100.0), ["auto", "100"]),
    ("bits zero", dict(bits=0), ["--bits=0"]),
    ("bits 31", dict(bits=31), ["--bits=31"]),
    ("bits beyond int32", dict(bits=2**33), ["--bits=8589934592"]),
    ("pixel bits zero", dict(pixel_bits=0), ["--pixel-bits=0"]),
    ("pixel bits 33", dict(pixel_bits=33), ["--pixel-bits=33"]),
    ("sampling", dict(sampling="linear"), ["--sampling=linear"]),
]


def command_line(kwargs, words):
    """The whole command line for a row: its words, completed with n and sigma."""
    options = [w for w in words if w.startswith("--")]
    operands = [w for w in words if not w.startswith("--")]
    if not operands:
        operands = ["5", "1"]
    elif len(operands) == 1:
        operands.append("1")
    return options + ["--"] + operands


@pytest.mark.parametrize("name,kwargs,words", REFUSED, ids=[r[0] for r in REFUSED])
def test_refused_like_the_program(name, kwargs, words):
    status, _, err = run("TAPSMITH_FIXED", *command_line(kwargs, words))
    assert status == 2, f"{name}: the program accepted {words}"
    args = dict(n=5, sigma=1.0, bits=8, pixel_bits=8, sampling="point") | kwargs
    with pytest.raises(ValueError) as figures_error:
        tapsmith.fixed_figures(**args)
    assert str(figures_error.value) == usage_message(err), name
    if "pixel_bits" not in kwargs:
        del args["pixel_bits"]
        with pytest.raises(ValueError) as taps_error:
            tapsmith.fixed_taps(**args)
        assert str(taps_error.value) == usage_message(err), name


# cheapest_taps against `tapsmith-fixed --format=json --minimize=adders`:
# (n, sigma, pixel_bits, max_error, max_bits, sampling), proven and not.
CHEAPEST = [
    (9, 1.5, 8, 1.0, 30, "point"),
    (5, 1.0, 10, 2.0, 20, "point"),
    (7, 0.8, 12, 1.0, "auto", "area"),
    (31, 5.0, 8, 1.0, 30, "point"),
]


@pytest.mark.parametrize("row", CHEAPEST, ids=str)
def test_cheapest_taps_equal_the_json_output(row):
    n, sigma, pixel_bits, max_error, max_bits, sampling = row
    status, out, err = run(
        "TAPSMITH_FIXED", "--format=json", "--minimize=adders", f"--max-error={max_error}", f"--bits={max_bits}",
        f"--pixel-bits={pixel_bits}", f"--sampling={sampling}", n, repr(sigma))
    assert status == 0, err
    expected = json.loads(out)
    got = tapsmith.cheapest_taps(n, sigma, pixel_bits, max_error, max_bits, sampling)
    assert got == expected
    assert list(got) == list(expected)


@pytest.mark.parametrize("words,kwargs", [
    (["--max-error=0.5"], dict(max_error=0.5)),
    (["--pixel-bits=32", "--max-error=0.6"], dict(pixel_bits=32, max_error=0.6)),
    (["--bits=6"], dict(max_bits=6)),
], ids=str)
def test_cheapest_taps_refused_like_the_program(words, kwargs):
    status, _, err = run("TAPSMITH_FIXED", "--minimize=adders", *words, "9", "1.5")
    assert status == 2
    with pytest.raises(ValueError) as error:
        tapsmith.cheapest_taps(9, 1.5, **kwargs)
    assert str(error.value) == usage_message(err)


# Values of the wrong type, which the command line cannot even express.
WRONG_TYPE = [
    ("n as a numeric string", dict(n="5")),
    ("n as a float", dict(n=5.0)),
    ("n as bool", dict(n=True)),
    ("n as None", dict(n=None)),
    ("sigma as a string", dict(sigma="1")),
    ("bits as a float", dict(bits=8.0)),
    ("bits as another string", dict(bits="eight")),
    ("sampling as an int", dict(sampling=1)),
]


@pytest.mark.parametrize("name,kwargs", WRONG_TYPE, ids=[r[0] for r in WRONG_TYPE])
def test_wrong_types_raise_type_error(name, kwargs):
    args = dict(n=5, sigma=1.0, bits=8, sampling="point") | kwargs
    with pytest.raises(TypeError):
        tapsmith.fixed_taps(**args)


def test_numpy_integers_are_ints():
    import numpy as np

    assert tapsmith.fixed_taps(np.int64(5), np.float32(1.0), np.uint8(8)) == tapsmith.fixed_taps(5, 1.0, 8)
