#!/usr/bin/env python3
"""Times wmstamp against cat copying the same raw video to a fresh file.

Runs the two alternately, several times each, and reports the median ratios
of wall and CPU time, and wmstamp's peak resident memory on a short and on
the full-length clip. Targets: within 1.10x of cat, under 8 MiB, and the
same memory at 10 frames as at the full length.

usage: bench/compare_cat.py [--tool build/wmstamp] [--frames 300] [--runs 7]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

FRAME = 3110400


def run(argv, stdout_path=None):
    """Runs argv under GNU time; returns (wall s, cpu s, peak RSS in KiB).

    GNU time forks a small process to exec argv, so the peak resident size
    is the program's own, not that of a copy of this interpreter."""
    with tempfile.NamedTemporaryFile("r") as report:
        out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
        try:
            status = subprocess.call(
                ["/usr/bin/time", "-o", report.name, "-f", "%e %U %S %M"] + argv, stdout=out)
        finally:
            if stdout_path:
                out.close()
        if status != 0:
            sys.exit(f"{argv[0]} failed with status {status}")
        wall, user, system, rss = report.read().split()[-4:]
    return float(wall), float(user) + float(system), int(rss)


def make_clip(path, frames):
    # Random samples: nothing for the page cache or the disk to shortcut.
    with open(path, "wb") as f:
        for _ in range(frames):
            f.write(os.urandom(FRAME))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", default="build/wmstamp")
    ap.add_argument("--frames", type=int, default=300)
    ap.add_argument("--runs", type=int, default=7)
    args = ap.parse_args()
    tool = os.path.abspath(args.tool)

    with tempfile.TemporaryDirectory(dir=os.environ.get("BENCH_DIR")) as d:
        clip, short = os.path.join(d, "clip.yuv"), os.path.join(d, "short.yuv")
        wm, out = os.path.join(d, "wm.bin"), os.path.join(d, "out.yuv")
        make_clip(clip, args.frames)
        make_clip(short, 10)
        with open(wm, "wb") as f:
            f.write(os.urandom(60 * args.frames))

        def stamp(src):
            if os.path.exists(out):
                os.unlink(out)
            return run([tool, src, wm, out])

        def copy():
            if os.path.exists(out):
                os.unlink(out)
            return run(["cat", clip], stdout_path=out)

        copy()  # warm the page cache with the source
        tool_runs, cat_runs = [], []
        for _ in range(args.runs):
            tool_runs.append(stamp(clip))
            cat_runs.append(copy())
        short_rss = stamp(short)[2]

    med = lambda runs, i: statistics.median(r[i] for r in runs)
    wall_t, wall_c = med(tool_runs, 0), med(cat_runs, 0)
    cpu_t, cpu_c = med(tool_runs, 1), med(cat_runs, 1)
    full_rss = max(r[2] for r in tool_runs)
    print(f"{args.frames} frames ({args.frames * FRAME / 1e6:.0f} MB), {args.runs} alternating runs each")
    print(f"wall  wmstamp {wall_t:.3f} s  cat {wall_c:.3f} s  ratio {wall_t / wall_c:.3f}")
    print(f"cpu   wmstamp {cpu_t:.3f} s  cat {cpu_c:.3f} s  ratio {cpu_t / cpu_c:.3f}")
    print(f"peak RSS wmstamp: {short_rss / 1024:.1f} MiB at 10 frames, "
          f"{full_rss / 1024:.1f} MiB at {args.frames} frames")


if __name__ == "__main__":
    main()
