#!/usr/bin/env python3
"""Consecutive records a few bits apart through a real encoder: does the
encoder show one frame's band for the next?

Each source is stamped with records in which record k+1 is record k with d
bits flipped (at random places), encoded with libx264 at heavy CRFs,
decoded, and verified with `wmextract --band --verify --report`. Every
frame carries its own record, so any frame matched to another record (a
repeat or a skip that never happened) or left unidentified is the
encoder's doing. References: random records, the recipes' frame numbers
and timecodes as text, and the same numbers packed by wmpack (K = 40).
Prints, per distance, the frames matched to another record and the frames
unidentified, pooled over the sources, for each CRF; and the smallest d
with no frame matched to another record at any CRF.

usage: bench/close_records.py [--build build] [--frames 50] [--sources ABC]
                              [--crf 35,38,40] [--bits 1,2,3,4,6,8,12,16,24,32]
"""
import argparse
import csv
import io
import os
import random
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from survival import SOURCES, RAW, X264  # noqa: E402


def run(command):
    r = subprocess.run(["bash", "-o", "pipefail", "-c", command], capture_output=True, text=True)
    return r.returncode, r.stdout, r.stderr


def close_records(rng, count, bits):
    """Records each `bits` bits from the one before, at random places."""
    record = bytearray(rng.randbytes(60))
    out = bytearray()
    for _ in range(count):
        out += record
        for bit in rng.sample(range(480), bits):
            record[bit // 8] ^= 1 << (bit % 8)
    return bytes(out)


def text_records(count, timecodes, width=60):
    """The recipes' records: "frame N", or SMPTE-like timecodes at 25 fps,
    padded with spaces to `width` bytes."""
    out = b""
    for f in range(count):
        text = (f"{f // 90000:02d}:{f // 1500 % 60:02d}:{f // 25 % 60:02d}:{f % 25:02d}"
                if timecodes else f"frame {f}")
        out += text.ljust(width).encode()
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--frames", type=int, default=50)
    parser.add_argument("--sources", default="ABC")
    parser.add_argument("--crf", default="35,38,40")
    parser.add_argument("--bits", default="1,2,3,4,6,8,12,16,24,32")
    parser.add_argument("--seed", type=int, default=12)
    args = parser.parse_args()
    tool = {p: shlex.quote(os.path.realpath(os.path.join(args.build, p)))
            for p in ("wmstamp", "wmextract", "wmpack")}
    crfs = [int(c) for c in args.crf.split(",")]
    rng = random.Random(args.seed)
    n = args.frames
    work = tempfile.mkdtemp(prefix="wmclose-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    # (name, records stamped, or the 40-byte data that wmpack packs for them)
    cases = [(f"{d} bits", close_records(rng, n, d), None) for d in
             [int(b) for b in args.bits.split(",")]]
    cases.append(("random records", rng.randbytes(60 * n), None))
    for timecodes in (False, True):
        name = "timecodes" if timecodes else "frame numbers"
        cases.append((f"{name} as text", text_records(n, timecodes), None))
        cases.append((f"{name} packed (K = 40)", None, text_records(n, timecodes, 40)))
    band = "-vf crop=1920:2:0:0,extractplanes=y -f rawvideo -"
    pooled = {}
    try:
        for source in args.sources:
            run(f"ffmpeg -nostdin -loglevel error -y -f lavfi -i {shlex.quote(SOURCES[source][1])} "
                f"-frames:v {n} -f rawvideo -pix_fmt yuv420p {work}/src.yuv")
            for name, stamped, packed in cases:
                with open(f"{work}/data.bin", "wb") as f:
                    f.write(stamped if packed is None else packed)
                options = "" if packed is None else "--fec 40"
                if packed is None:
                    shutil.copy(f"{work}/data.bin", f"{work}/wm.bin")
                else:
                    run(f"{tool['wmpack']} --force {work}/data.bin {work}/wm.bin")
                run(f"{tool['wmstamp']} {work}/src.yuv {work}/wm.bin {work}/st.yuv >/dev/null")
                for crf in crfs:
                    run(f"ffmpeg -nostdin -loglevel error -y {RAW} -i {work}/st.yuv {X264} "
                        f"-crf {crf} {work}/coded.mkv")
                    status, out, err = run(
                        f"ffmpeg -nostdin -loglevel error -i {work}/coded.mkv -fps_mode passthrough "
                        f"{band} | {tool['wmextract']} --band {options} --verify {work}/data.bin "
                        f"--report - -")
                    rows = list(csv.DictReader(io.StringIO(out)))
                    if len(rows) != n:
                        sys.exit(f"{name} CRF {crf}: {len(rows)} frames decoded of {n}")
                    p = pooled.setdefault((name, crf), [0, 0, 0])
                    for row in rows:
                        p[0] += 1
                        if row["record"] == "":
                            p[2] += 1
                        elif row["record"] != row["frame"]:
                            p[1] += 1
                    summary = err.strip().splitlines()[-1]
                    print(f"{source} | {name} | CRF {crf} | status {status} | {summary}",
                          file=sys.stderr, flush=True)
    finally:
        shutil.rmtree(work)
    print(f"{n} frames of each of sources {args.sources}, libx264 medium; "
          f"`bench/close_records.py {' '.join(sys.argv[1:])}`\n")
    print("| consecutive records | " + " | ".join(f"CRF {c}: other record, unidentified"
                                                   for c in crfs) + " |")
    print("|---|" + "---|" * len(crfs))
    for name, _, _ in cases:
        cells = [f"{pooled[(name, c)][1]}, {pooled[(name, c)][2]}" for c in crfs]
        print(f"| {name} | " + " | ".join(cells) + " |")
    clean = [int(name.split()[0]) for name, _, _ in cases if name.endswith(" bits")
             and all(pooled[(name, c)][1] == 0 for c in crfs)]
    bits = [int(name.split()[0]) for name, _, _ in cases if name.endswith(" bits")]
    # The bound: the smallest distance from which on every larger one is clean too.
    bound = next((d for d in bits if all(b in clean for b in bits if b >= d)), None)
    print(f"\nsmallest distance with no frame matched to another record from there on: {bound}")


if __name__ == "__main__":
    sys.exit(main())
