# SPDX-License-Identifier: MIT
"""Times tapsmith's blur beside OpenCV's GaussianBlur, both on one thread, for
several filter sizes on three images: 4096 x 4096 8-bit grey, a 3840 x 2160
8-bit RGB frame and 4096 x 4096 16-bit grey; fails (exit 1) when tapsmith
takes more than --limit times OpenCV's time for any of them. Both are timed
in CPU time, best of several runs, so that other load on the machine hardly
moves the ratio. tapsmith's taps have 8 bits on 8-bit images, as OpenCV's
8-bit filter has, and 16 bits on 16-bit ones.

--target NAME times tapsmith's loops for one instruction set (AVX2, say, on
a processor that also has AVX-512), as a machine without the wider one
would run them.

Usage: blur_vs_opencv.py PATH/TO/tapsmith_blur_bench [--runs R] [--limit X] [--target NAME]
"""
import argparse
import subprocess
import sys
import time

try:
    import cv2
    import numpy as np
except ImportError as missing:
    sys.exit(f"blur_vs_opencv.py: needs {missing.name}, which is not installed: apt-get install python3-opencv "
             "python3-numpy (and run it with /usr/bin/python3)")

SIZES = (3, 5, 9, 15, 31)
# name, rows, columns, channels, numpy type, tap bits
IMAGES = (("grey8", 4096, 4096, 1, "uint8", 8), ("rgb8", 2160, 3840, 3, "uint8", 8),
          ("grey16", 4096, 4096, 1, "uint16", 16))


def opencv_ms(image, n, sigma, runs):
    best = None
    for _ in range(runs):
        start = time.thread_time()
        cv2.GaussianBlur(image, (n, n), sigma, borderType=cv2.BORDER_REFLECT_101)
        took = (time.thread_time() - start) * 1000.0
        best = took if best is None else min(best, took)
    return best


def tapsmith_ms(bench, image, n, sigma, bits, runs, target=None):
    chosen = [f"--target={target}"] if target else []
    out = subprocess.run([bench, f"--image={image}", *chosen, str(n), repr(sigma), str(bits), str(runs)],
                         check=True, capture_output=True, text=True)
    return float(out.stdout.strip())


def processor():
    """The processor's model and the widest vectors it offers, for the record."""
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            lines = info.read().splitlines()
    except OSError:
        return "unknown processor"
    model = next((l.split(":", 1)[1].strip() for l in lines if l.startswith("model name")), "unknown")
    flags = set(next((l.split(":", 1)[1].split() for l in lines if l.startswith("flags")), []))
    widest = "AVX-512" if "avx512bw" in flags else "AVX2" if "avx2" in flags else "SSE"
    return f"{model}, {widest}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench", help="the tapsmith_blur_bench executable")
    parser.add_argument("--runs", type=int, default=9, help="best of this many runs (default 9)")
    parser.add_argument("--limit", type=float, default=1.25,
                        help="largest ratio allowed (default 1.25: equal, with room for noise)")
    parser.add_argument("--target", help="tapsmith's loops for this instruction set (AVX-512, AVX2, SSE4, baseline)")
    args = parser.parse_args()

    cv2.setNumThreads(1)
    print(f"{processor()}, OpenCV {cv2.__version__}")
    rng = np.random.default_rng(1)
    print(f"{'image':>6} {'n':>3} {'sigma':>6} {'tapsmith ms':>12} {'OpenCV ms':>10} {'ratio':>6}")
    worst = 0.0
    for name, rows, cols, channels, kind, bits in IMAGES:
        shape = (rows, cols) if channels == 1 else (rows, cols, channels)
        image = rng.integers(0, np.iinfo(kind).max + 1, shape, dtype=kind)
        for n in SIZES:
            sigma = n / 6.0
            # Interleaved, so that a busy machine slows both alike.
            ours = tapsmith_ms(args.bench, name, n, sigma, bits, args.runs, args.target)
            theirs = opencv_ms(image, n, sigma, args.runs)
            ratio = ours / theirs
            worst = max(worst, ratio)
            flag = "" if ratio <= args.limit else "  too slow"
            print(f"{name:>6} {n:>3} {sigma:>6.3f} {ours:>12.2f} {theirs:>10.2f} {ratio:>6.2f}{flag}", flush=True)
    if worst > args.limit:
        print(f"tapsmith is more than {args.limit:g}x slower than OpenCV", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
