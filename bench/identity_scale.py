#!/usr/bin/env python3
"""Frame identity at scale: verifying a long band-only video against as
long a watermark data file, matched by content against by position.

Part 1 times `wmextract --band --verify` of a 100,000-frame band file
(384 MB) against a 100,000-record DATA, aligned, aligned with a report file
(a line written as each frame is checked) and with --by-position, in
shuffled rounds with `sync` before each run; it reports lower quartiles and
minima. Part 2 feeds 1,000,000 frames (11 hours at 25 fps) through a pipe
against a 1,000,000-record DATA, with every 100th frame dropped, and reports
the wall time and the peak resident memory (GNU time). Target: aligned at
most 1.5x by position; the report, a write a line so that it follows the
frames, at most 2x aligned on this band file (the cheapest to read); under
100 MB at 1,000,000 records.

usage: bench/identity_scale.py [--build build] [--rounds 11]
"""
import argparse
import os
import random
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

LEVELS = (16, 89, 162, 235)
# Each byte as its 32 band samples, most significant pair first.
BYTE_RUNS = [b"".join(bytes([LEVELS[(v >> s) & 3]]) * 8 for s in (6, 4, 2, 0)) for v in range(256)]


def band(record):
    row = b"".join(BYTE_RUNS[b] for b in record)
    return row + row


def write_bands(out, data, skip_every=0):
    for k in range(len(data) // 60):
        if skip_every and k % skip_every == skip_every - 1:
            continue
        out.write(band(data[k * 60:k * 60 + 60]))


def timed(command):
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    subprocess.run(["bash", "-c", command], check=False, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=11)
    args = parser.parse_args()
    extract = shlex.quote(os.path.realpath(os.path.join(args.build, "wmextract")))
    work = tempfile.mkdtemp(prefix="wmscale-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    try:
        data = os.urandom(60 * 100_000)
        with open(f"{work}/data.bin", "wb") as f:
            f.write(data)
        with open(f"{work}/band.gray", "wb") as f:
            write_bands(f, data)
        commands = {
            "aligned": f"{extract} --band --verify {work}/data.bin {work}/band.gray",
            "aligned, report": f"{extract} --band --force --report {work}/report.csv --verify "
                               f"{work}/data.bin {work}/band.gray",
            "by position": f"{extract} --band --by-position --verify {work}/data.bin "
                           f"{work}/band.gray",
        }
        times = {name: [] for name in commands}
        for _ in range(args.rounds):
            order = list(commands)
            random.shuffle(order)
            for name in order:
                times[name].append(timed(commands[name]))
        print(f"100,000 frames, 100,000 records, {args.rounds} rounds, shuffled, sync before each")
        print("| mode | lower quartile (s) | min (s) |\n|---|---|---|")
        for name, t in times.items():
            t.sort()
            print(f"| {name} | {t[(len(t) - 1) // 4]:.3f} | {t[0]:.3f} |")
        q = {n: sorted(t)[(len(t) - 1) // 4] for n, t in times.items()}
        print(f"ratio of lower quartiles: aligned / by position "
              f"{q['aligned'] / q['by position']:.2f}, report / aligned "
              f"{q['aligned, report'] / q['aligned']:.2f}\n")

        big = os.urandom(60 * 1_000_000)
        with open(f"{work}/big.bin", "wb") as f:
            f.write(big)
        os.remove(f"{work}/band.gray")
        # Its messages go to a file: a pipe nobody reads would stall it.
        command = (f"/usr/bin/time -f '%M %e' -o {work}/time.txt {extract} --band --verify "
                   f"{work}/big.bin - 2>{work}/err.txt")
        proc = subprocess.Popen(["bash", "-c", command], stdin=subprocess.PIPE)
        write_bands(proc.stdin, big, skip_every=100)
        proc.stdin.close()
        proc.wait()
        summary = open(f"{work}/err.txt").read().strip().splitlines()[-1]
        # GNU time notes a non-zero status on a line of its own first.
        kib, seconds = open(f"{work}/time.txt").read().split()[-2:]
        print(f"1,000,000 records, every 100th frame dropped, through a pipe: status "
              f"{proc.returncode}, {float(seconds):.1f} s, peak RSS {int(kib) / 1024:.1f} MiB")
        print(summary)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
