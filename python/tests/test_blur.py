# SPDX-License-Identifier: MIT
# blur() against `tapsmith-fixed --apply` on PNG files and against a
# brute-force 2-D sum; its refusals, its dtypes, shapes and strides, and
# the GIL released while it filters.
import hashlib
import sys
import threading
import time

import cv2
import numpy as np
import pytest
import tapsmith
from conftest import run, usage_message


def read_index(q, length, border):
    """The index a read at q of a line of `length` pixels takes, None for a zero."""
    if border == "replicate":
        return min(max(q, 0), length - 1)
    if border == "zero":
        return q if 0 <= q < length else None
    if length == 1:
        return 0
    while q < 0 or q >= length:
        q = -q if q < 0 else 2 * length - q - 2
    return q


def brute_force(image, taps, bits, border):
    """(sum_ij t_i t_j p + 2^(2B-1)) >> 2B with Python's unbounded ints."""
    pixels = image.reshape(image.shape[0], image.shape[1], -1)
    height, width, channels = pixels.shape
    m = (len(taps) - 1) // 2
    out = np.empty_like(pixels)
    for y in range(height):
        for x in range(width):
            for c in range(channels):
                total = 0
                for i, ti in enumerate(taps):
                    yy = read_index(y + i - m, height, border)
                    for j, tj in enumerate(taps):
                        xx = read_index(x + j - m, width, border)
                        if yy is not None and xx is not None:
                            total += ti * tj * int(pixels[yy, xx, c])
                out[y, x, c] = (total + (1 << (2 * bits - 1))) >> (2 * bits)
    return out.reshape(image.shape)


def random_image(dtype, shape, pixel_bits, seed):
    return np.random.default_rng(seed).integers(0, 1 << pixel_bits, size=shape, dtype=dtype)


# (dtype, shape, n, sigma, bits, border, pixel_bits): grey, RGB and RGBA;
# lines of one pixel; filters longer than the image (reflections that
# bounce); the identity; P + 2B = 64; pixel widths below the dtype's.
ROWS = [
    (np.uint8, (7, 5), 5, 1.0, 8, "reflect101", 8),
    (np.uint8, (6, 9, 3), 3, 0.8, 10, "replicate", 8),
    (np.uint8, (5, 4, 4), 7, 1.5, 12, "zero", 8),
    (np.uint8, (1, 1), 5, 1.0, 8, "reflect101", 8),
    (np.uint8, (1, 13), 9, 2.0, 8, "reflect101", 8),
    (np.uint8, (13, 1, 3), 3, 1.0, 6, "zero", 8),
    (np.uint8, (8, 8), 1, 1.0, 4, "replicate", 8),
    (np.uint8, (3, 4), 15, 3.0, 9, "reflect101", 8),
    (np.uint8, (2, 2, 3), 9, 1.2, 8, "zero", 8),
    (np.uint8, (6, 7), 5, 1.1, 8, "replicate", 6),
    (np.uint16, (7, 6), 5, 1.0, 8, "reflect101", 16),
    (np.uint16, (9, 7, 3), 11, 2.5, 16, "replicate", 16),
    (np.uint16, (6, 5, 4), 5, 1.0, 24, "zero", 16),
    (np.uint16, (5, 5), 3, 0.7, 8, "reflect101", 12),
]
IDS = [f"{np.dtype(r[0]).name} {r[1]} n={r[2]} s={r[3]} B={r[4]} {r[5]} P={r[6]}" for r in ROWS]


@pytest.mark.parametrize("row", ROWS, ids=IDS)
def test_blur_equals_the_program_and_the_sum(row, tmp_path):
    dtype, shape, n, sigma, bits, border, pixel_bits = row
    image = random_image(dtype, shape, pixel_bits, seed=len(IDS) + n)
    taps = tapsmith.fixed_taps(n, sigma, bits)
    got = tapsmith.blur(image, taps, bits, border, pixel_bits)
    assert got.dtype == image.dtype and got.shape == image.shape
    assert np.array_equal(got, brute_force(image, taps, bits, border))

    source, target = tmp_path / "in.png", tmp_path / "out.png"
    assert cv2.imwrite(str(source), image)
    status, _, err = run("TAPSMITH_FIXED", f"--apply={source}", f"--output={target}", f"--bits={bits}",
                         f"--pixel-bits={pixel_bits}", f"--border={border}", n, repr(sigma))
    assert status == 0, err
    written = cv2.imread(str(target), cv2.IMREAD_UNCHANGED)
    if image.ndim == 3 and image.shape[2] == 4:
        # The program keeps a PNG's alpha as it was; blur() filters every channel.
        assert np.array_equal(written[..., 3], image[..., 3])
        got, written = got[..., :3], written[..., :3]
    assert np.array_equal(got, written)


@pytest.mark.parametrize("row", ROWS[:3] + ROWS[10:12], ids=IDS[:3] + IDS[10:12])
def test_every_thread_count_gives_one_result(row):
    dtype, shape, n, sigma, bits, border, pixel_bits = row
    image = random_image(dtype, shape, pixel_bits, seed=n)
    taps = tapsmith.fixed_taps(n, sigma, bits)
    want = brute_force(image, taps, bits, border)
    for threads in (0, 1, 2, 3, 7, 2**40):
        assert np.array_equal(tapsmith.blur(image, taps, bits, border, pixel_bits, threads=threads), want), threads


def test_channels_the_png_cannot_hold():
    for shape in [(4, 5, 1), (4, 5, 2)]:
        image = random_image(np.uint8, shape, 8, seed=3)
        taps = tapsmith.fixed_taps(3, 1.0, 8)
        assert np.array_equal(tapsmith.blur(image, taps, 8), brute_force(image, taps, 8, "reflect101")), shape


def test_defaults_and_flat_images():
    # A flat image stays flat whatever the border, except zero's dark rim.
    for dtype, value in [(np.uint8, 255), (np.uint16, 65535)]:
        flat = np.full((6, 6), value, dtype)
        taps = tapsmith.fixed_taps(5, 1.0, 8)
        assert np.array_equal(tapsmith.blur(flat, taps, 8), flat)
        assert np.array_equal(tapsmith.blur(flat, taps, 8, border="replicate"), flat)
        assert tapsmith.blur(flat, taps, 8, border="zero")[0, 0] < value


def test_border_refused_like_the_program(tmp_path):
    status, _, err = run("TAPSMITH_FIXED", "--apply=in.png", f"--output={tmp_path / 'out.png'}", "--border=wrap", 3, 1)
    assert status == 2
    with pytest.raises(ValueError) as error:
        tapsmith.blur(np.zeros((3, 3), np.uint8), [64, 128, 64], 8, border="wrap")
    assert str(error.value) == usage_message(err)


GOOD = [64, 128, 64]
U8 = np.zeros((4, 5), np.uint8)
U16 = np.zeros((4, 5), np.uint16)
# (name, arguments): each is refused with ValueError and a message. The
# program cannot be asked for any of these: it takes its taps from its own
# settings and its pixel width from the PNG.
BAD_VALUES = [
    ("taps not summing to 2^bits", (U8, [64, 127, 64], 8)),
    ("a negative tap", (U8, [-1, 258, -1], 8)),
    ("an even count", (U8, [128, 128], 8)),
    ("no taps", (U8, [], 8)),
    ("129 taps", (U8, [0] * 64 + [2] + [0] * 64, 1)),
    ("bits zero", (U8, [1], 0)),
    ("bits 31", (U8, [1 << 31], 31)),
    ("bits beyond int32", (U8, GOOD, 2**40)),
    ("pixel bits zero", (U8, GOOD, 8, "reflect101", 0)),
    ("pixel bits 17", (U16, GOOD, 8, "reflect101", 17)),
    ("P + 2B above 64", (U16, [1 << 25], 25, "reflect101", 16)),
    ("no rows", (np.zeros((0, 5), np.uint8), GOOD, 8)),
    ("no columns", (np.zeros((5, 0), np.uint16), GOOD, 8)),
    ("no channels", (np.zeros((3, 3, 0), np.uint8), GOOD, 8)),
    ("five channels", (np.zeros((3, 3, 5), np.uint8), GOOD, 8)),
    ("65536 columns", (np.zeros((1, 65536), np.uint8), GOOD, 8)),
    ("65536 rows", (np.zeros((65536, 1), np.uint8), GOOD, 8)),
    ("pixel above 2^P - 1", (np.full((2, 2), 16, np.uint8), GOOD, 8, "zero", 4)),
    ("negative threads", (U8, GOOD, 8, "reflect101", None, -1)),
]


@pytest.mark.parametrize("name,args", BAD_VALUES, ids=[r[0] for r in BAD_VALUES])
def test_bad_values_raise_value_error(name, args):
    with pytest.raises(ValueError) as error:
        tapsmith.blur(*args)
    assert str(error.value), name


BAD_TYPES = [
    ("float image", (np.zeros((3, 3)), GOOD, 8)),
    ("int16 image", (np.zeros((3, 3), np.int16), GOOD, 8)),
    ("uint32 image", (np.zeros((3, 3), np.uint32), GOOD, 8)),
    ("bool image", (np.zeros((3, 3), bool), GOOD, 8)),
    ("a list", ([[1, 2], [3, 4]], GOOD, 8)),
    ("a 0-D array", (np.uint8(3), GOOD, 8)),
    ("a 1-D array", (np.zeros(9, np.uint8), GOOD, 8)),
    ("a 4-D array", (np.zeros((2, 2, 2, 2), np.uint8), GOOD, 8)),
    ("float taps", (U8, [0.25, 0.5, 0.25], 8)),
    ("taps as a string", (U8, "abc", 8)),
    ("no taps at all", (U8, None, 8)),
    ("a tap beyond int64", (U8, [2**64], 8)),
    ("bits as a float", (U8, GOOD, 8.0)),
    ("border as an int", (U8, GOOD, 8, 0)),
    ("threads as a float", (U8, GOOD, 8, "reflect101", None, 2.0)),
]


@pytest.mark.parametrize("name,args", BAD_TYPES, ids=[r[0] for r in BAD_TYPES])
def test_bad_types_raise_type_error(name, args):
    with pytest.raises(TypeError):
        tapsmith.blur(*args)


def views(base):
    """Views of base with every kind of stride, by name."""
    return {
        "step": base[::2, ::3],
        "reversed": base[::-1, ::-1],
        "transposed": base.swapaxes(0, 1),
        "channels reversed": base[..., ::-1],
        "one channel": base[..., 1],
        "fortran": np.asfortranarray(base),
        "window": base[5:30, 7:41],
        "broadcast": np.broadcast_to(base[:1], base.shape),
    }


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16], ids=lambda d: np.dtype(d).name)
def test_any_strides_give_the_contiguous_result(dtype):
    base = random_image(dtype, (40, 50, 3), 8 * np.dtype(dtype).itemsize, seed=7)
    before = base.copy()
    taps = tapsmith.fixed_taps(5, 1.2, 10)
    for name, view in views(base).items():
        got = tapsmith.blur(view, taps, 10)
        assert np.array_equal(got, tapsmith.blur(np.ascontiguousarray(view), taps, 10)), name
        assert got.flags.c_contiguous and got.flags.writeable and not np.shares_memory(got, base), name
    assert np.array_equal(base, before)


def test_the_gil_is_released_while_filtering():
    image = random_image(np.uint8, (4096, 4096), 8, seed=11)
    taps = tapsmith.fixed_taps(15, 3.0, 12)
    count = 0
    stop = False

    def counter():
        nonlocal count
        while not stop:
            count += 1

    # Short switch intervals keep the counter's turns around the call short.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.0005)
    thread = threading.Thread(target=counter)
    thread.start()
    try:
        # The counter's pace while this thread runs C code that is known to
        # release the GIL (hashlib does for large buffers): the same share
        # of the machine blur should leave it.
        start, began = count, time.perf_counter()
        hashlib.sha256(bytes(48 << 20)).digest()
        pace = (count - start) / (time.perf_counter() - began)
        start, began = count, time.perf_counter()
        out = tapsmith.blur(image, taps, 12)
        took = time.perf_counter() - began
        advanced = count - start
    finally:
        stop = True
        thread.join()
        sys.setswitchinterval(interval)
    # With the GIL held, the counter would get only its turns around the
    # call (a few percent of it); released, it keeps its pace.
    assert advanced > 0.3 * pace * took, f"counter advanced {advanced} in {took:.3f} s at {pace:.0f}/s alone"
    # Away from the crop's far edges, a corner of the image filters the same.
    assert np.array_equal(out[:64, :64], tapsmith.blur(image[:80, :80], taps, 12)[:64, :64])
