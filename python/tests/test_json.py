# SPDX-License-Identifier: MIT
# Every JSON tapsmith-fixed prints parses with a strict RFC 8259 parser: no
# inf, nan or Infinity, in the figures of the taps or of an image, above all
# where a figure has no finite value (one tap, a flat image: the PSNR of an
# image equal to its reference).
import json

import cv2
import numpy as np
import pytest
from conftest import run


def strict(text):
    def refuse(constant):
        raise ValueError(f"not JSON: {constant}")

    return json.loads(text, parse_constant=refuse)


TAPS = [
    ("1", "1"), ("1", "1e-3", "-b", "30", "-p", "32"), ("3", "0.1"), ("5", "1.0", "-s", "area"),
    ("9", "100", "-b", "1"), ("127", "20", "-b", "30"), ("auto", "2.3", "--bits=auto"),
    ("31", "1e-2", "-p", "1"), ("127", "1e5", "-s", "area", "-b", "30"),
]


@pytest.mark.parametrize("args", TAPS, ids=[" ".join(a) for a in TAPS])
def test_taps_json_is_strict(args):
    status, out, err = run("TAPSMITH_FIXED", "--format=json", *args)
    assert status == 0, err
    figures = strict(out)
    assert len(figures["taps"]) == figures["dim_mask"]


IMAGES = [
    # name, image, taps arguments, whether it equals its double-precision reference
    ("flat black", np.zeros((6, 7), np.uint8), ("-b", "8", "5", "1"), True),
    ("one tap", np.arange(42, dtype=np.uint8).reshape(6, 7), ("-b", "8", "1", "1"), True),
    ("flat black 16-bit RGB", np.zeros((4, 5, 3), np.uint16), ("9", "2", "-b", "12"), True),
    # Flat but not black: the reference's samples sum to 1 only up to rounding.
    ("flat grey", np.full((6, 7), 77, np.uint8), ("-b", "8", "5", "1"), False),
    ("noise", np.random.default_rng(5).integers(0, 256, (9, 8), dtype=np.uint8), ("-b", "8", "5", "1"), False),
]


@pytest.mark.parametrize("row", IMAGES, ids=[r[0] for r in IMAGES])
def test_image_json_is_strict(row, tmp_path):
    _, image, args, identical = row
    source = tmp_path / "in.png"
    assert cv2.imwrite(str(source), image)
    status, out, err = run("TAPSMITH_FIXED", "--format=json", f"--apply={source}",
                           f"--output={tmp_path / 'out.png'}", *args)
    assert status == 0, err
    figures = strict(out)["image"]
    assert (figures["psnr_db"] is None) == identical
    assert figures["max_abs_error"] == 0 or not identical
    status, text, _ = run("TAPSMITH_FIXED", f"--apply={source}", f"--output={tmp_path / 'out.png'}", *args)
    assert status == 0
    assert (b"identical to it (PSNR infinite)" in text) == identical
    assert b"inf dB" not in text
