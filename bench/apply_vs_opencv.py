# SPDX-License-Identifier: MIT
"""The golden model end to end beside OpenCV: `tapsmith-fixed --apply` (read
the PNG, filter, the figures against double precision, write the PNG)
against OpenCV's imread + GaussianBlur + imwrite, both on one thread, on
4096 x 4096 images (8-bit grey, 8-bit RGB, 16-bit grey) for n = 3, 9 and 31.
Prints CPU time, their ratio and tapsmith's peak memory beside the images'
own size; each side runs in a process of its own so that neither's memory
counts for the other. With --limit X it fails (status 1) when tapsmith
takes more than X times OpenCV's time on a row (a row above it is timed
once more, best of twice the runs, before it counts: a noise margin), and
with --memory-slack MB when tapsmith's peak exceeds the two images plus
MB (room for the program, its libraries and O(width x n) working rows,
never for another whole image); otherwise it measures and asserts nothing.

With --scaling, instead: tapsmith alone on the 8-bit grey image, n = 9,
sigma 1.5, on 1 and on 2 threads (--threads), wall-clock seconds, best of R,
and their ratio.

Usage: apply_vs_opencv.py PATH/TO/tapsmith-fixed [--side S] [--runs R] [--limit X] [--memory-slack MB]
                          [--scaling]
"""
import argparse
import os
import subprocess
import sys
import tempfile

try:
    import cv2
    import numpy as np
except ImportError as missing:
    sys.exit(f"apply_vs_opencv.py: needs {missing.name}, which is not installed: apt-get install python3-opencv "
             "python3-numpy (and run it with /usr/bin/python3)")

SIZES = (3, 9, 31)
KINDS = (("grey 8-bit", 1, np.uint8), ("RGB 8-bit", 3, np.uint8), ("grey 16-bit", 1, np.uint16))

OPENCV = """
import resource, sys, time, cv2
cv2.setNumThreads(1)
source, target, n, sigma = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.process_time()
image = cv2.imread(source, cv2.IMREAD_UNCHANGED)
cv2.imwrite(target, cv2.GaussianBlur(image, (n, n), sigma, borderType=cv2.BORDER_REFLECT_101))
print(time.process_time() - start, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
"""


# A child's peak memory counts what it shared with its parent before exec:
# the program is started from a small process, not from this one with its
# images.
SPAWN = """
import os, sys
child = os.posix_spawn(sys.argv[1], sys.argv[1:], os.environ,
                       file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                                     (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
_, status, usage = os.wait4(child, 0)
print(status, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, time.perf_counter() - began)
"""
SPAWN = SPAWN.replace("import os, sys\n", "import os, sys, time\nbegan = time.perf_counter()\n")


def tapsmith_run(program, source, target, n, sigma, bits, threads=1):
    """CPU seconds, peak resident kB and wall-clock seconds of one run."""
    out = subprocess.run([sys.executable, "-c", SPAWN, program, f"--bits={bits}", f"--apply={source}",
                          f"--output={target}", f"--threads={threads}", str(n), repr(sigma)], check=True,
                         capture_output=True, text=True)
    status, seconds, kilobytes, wall = out.stdout.split()
    if status != "0":
        sys.exit(f"apply_vs_opencv.py: {program} failed on {source}")
    return float(seconds), int(kilobytes), float(wall)


def scaling(program, source, target, runs):
    """tapsmith on 1 and 2 threads, end to end, wall clock."""
    print(f"{'threads':>7} {'wall s':>7} {'CPU s':>6} {'speed-up':>8}")
    one = None
    for threads in (1, 2):
        best = min((tapsmith_run(program, source, target, 9, 1.5, 8, threads) for _ in range(runs)),
                   key=lambda r: r[2])
        one = one or best[2]
        print(f"{threads:>7} {best[2]:>7.3f} {best[0]:>6.2f} {one / best[2]:>8.2f}")


def opencv_run(source, target, n, sigma):
    out = subprocess.run([sys.executable, "-c", OPENCV, source, target, str(n), repr(sigma)], check=True,
                         capture_output=True, text=True)
    seconds, kilobytes = out.stdout.split()
    return float(seconds), int(kilobytes)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program", help="the tapsmith-fixed executable")
    parser.add_argument("--side", type=int, default=4096, help="image side (default 4096)")
    parser.add_argument("--runs", type=int, default=3, help="best of this many runs (default 3)")
    parser.add_argument("--limit", type=float, help="fail when a row takes more than this times OpenCV's time")
    parser.add_argument("--memory-slack", type=float, help="fail when peak memory exceeds the images plus this (MB)")
    parser.add_argument("--scaling", action="store_true", help="1 against 2 threads, 8-bit grey, n = 9")
    args = parser.parse_args()
    rng = np.random.default_rng(1)
    over = []
    if not args.scaling:
        print(f"{'image':>12} {'n':>3} {'tapsmith s':>11} {'OpenCV s':>9} {'ratio':>6} {'tapsmith MB':>12} "
              f"{'images MB':>10}")
    with tempfile.TemporaryDirectory() as work:
        for name, channels, dtype in KINDS:
            top = np.iinfo(dtype).max
            # A smooth ramp with noise: compresses like a photograph, not like noise or a flat field.
            ramp = np.add.outer(np.arange(args.side), np.arange(args.side)) * (top / (2 * args.side))
            planes = [ramp + rng.normal(0, top / 50, ramp.shape) for _ in range(channels)]
            image = np.clip(np.dstack(planes) if channels > 1 else planes[0], 0, top).astype(dtype)
            source = os.path.join(work, "in.png")
            cv2.imwrite(source, image)
            if args.scaling:
                scaling(args.program, source, os.path.join(work, "a.png"), args.runs)
                return
            # Both images as tapsmith holds them: a byte a sample at 8 bits, two at 16.
            images_mb = 2 * image.nbytes / 2**20
            bits = 8 if dtype == np.uint8 else 16
            for n in SIZES:
                sigma = n / 6.0
                def measure(runs):
                    ours = min(tapsmith_run(args.program, source, os.path.join(work, "a.png"), n, sigma, bits)[:2]
                               for _ in range(runs))
                    theirs = min(opencv_run(source, os.path.join(work, "b.png"), n, sigma) for _ in range(runs))
                    return ours, theirs

                ours, theirs = measure(args.runs)
                if args.limit is not None and ours[0] / theirs[0] > args.limit:
                    ours, theirs = measure(2 * args.runs)
                print(f"{name:>12} {n:>3} {ours[0]:>11.2f} {theirs[0]:>9.2f} {ours[0] / theirs[0]:>6.2f} "
                      f"{ours[1] / 1024:>12.0f} {images_mb:>10.0f}")
                if args.memory_slack is not None and ours[1] / 1024 > images_mb + args.memory_slack:
                    over.append(f"{name} n = {n}: {ours[1] / 1024:.0f} MB, above the images plus "
                                f"{args.memory_slack:g} MB")
                if args.limit is not None and ours[0] / theirs[0] > args.limit:
                    over.append(f"{name} n = {n}: {ours[0] / theirs[0]:.2f} times OpenCV's time, above {args.limit:g}")
    if over:
        sys.exit("apply_vs_opencv.py: " + "; ".join(over))


if __name__ == "__main__":
    main()
