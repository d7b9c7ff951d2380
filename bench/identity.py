#!/usr/bin/env python3
"""Frame identity through real chains: does `wmextract --verify` name the
record each decoded frame carries, through dropped, repeated and re-timed
frames and heavy compression?

Each source is stamped with one random record a frame, sent through a
timing filter and an encoder, decoded, and verified with --report. The
truth is the same timing filter without the encoder, whose payloads come
back exact. Prints, per chain and pooled over the sources: frames, frames
identified, frames identified wrongly, unidentified, the summary's timing
figures, and the largest ratio of a right match's distance to the next
record's (the identification rule needs it below 0.6) and the smallest
ratio of a wrong nearest record (which must stay above it).

usage: bench/identity.py [--build build] [--frames 50] [--sources ABCD]
"""
import argparse
import csv
import io
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from survival import SOURCES, RAW, X264, X265, VP9, AV1  # noqa: E402

DROP7 = r"select=not(eq(mod(n\,7)\,6)),setpts=N/25/TB"
CHAINS = [
    ("drop every 7th (select), x264 CRF 23", DROP7, f"{X264} -crf 23"),
    ("fps=24, x264 CRF 23", "fps=24", f"{X264} -crf 23"),
    ("fps=30, x264 CRF 23", "fps=30", f"{X264} -crf 23"),
    ("trim=start_frame=3, x264 CRF 23", "trim=start_frame=3,setpts=PTS-STARTPTS", f"{X264} -crf 23"),
    ("loop (one frame twice), x264 CRF 23", "loop=loop=1:size=1:start=10,setpts=N/25/TB",
     f"{X264} -crf 23"),
    ("drop every 7th, x265 CRF 35", DROP7, f"{X265} -crf 35"),
    ("x265 CRF 32", "", f"{X265} -crf 32"),
    ("x265 CRF 35", "", f"{X265} -crf 35"),
    ("SVT-AV1 CRF 50", "", AV1.replace("-crf 40", "-crf 50")),
    ("VP9 1 Mbit/s", "", VP9.replace("-b:v 2M", "-b:v 1M")),
    ("x264 CRF 38", "", f"{X264} -crf 38"),
]


def run(command):
    r = subprocess.run(["bash", "-o", "pipefail", "-c", command], capture_output=True, text=True)
    return r.returncode, r.stdout, r.stderr


def report(tools, work, frames_cmd):
    status, out, err = run(f"{frames_cmd} | {tools['extract']} --band --verify {work}/wm.bin "
                           f"--report - -")
    rows = list(csv.DictReader(io.StringIO(out)))
    return status, rows, err.strip().splitlines()[-1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--frames", type=int, default=50)
    parser.add_argument("--sources", default="ABCD")
    args = parser.parse_args()
    tools = {p: shlex.quote(os.path.realpath(os.path.join(args.build, p.join(["wm", ""]))))
             for p in ("stamp", "extract")}
    work = tempfile.mkdtemp(prefix="wmidentity-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    band = "-vf crop=1920:2:0:0,extractplanes=y -f rawvideo -"
    pooled = {}
    worst_right, best_wrong = 0.0, 9.0
    try:
        for source in args.sources:
            run(f"ffmpeg -nostdin -loglevel error -y -f lavfi -i {shlex.quote(SOURCES[source][1])} "
                f"-frames:v {args.frames} -f rawvideo -pix_fmt yuv420p {work}/src.yuv")
            with open(f"{work}/wm.bin", "wb") as f:
                f.write(os.urandom(60 * args.frames))
            run(f"{tools['stamp']} {work}/src.yuv {work}/wm.bin {work}/st.yuv >/dev/null")
            for name, timing, encoder in CHAINS:
                vf = f"-vf {shlex.quote(timing)}" if timing else ""
                truth_cmd = (f"ffmpeg -nostdin -loglevel error {RAW} -i {work}/st.yuv {vf} "
                             f"-f rawvideo -pix_fmt yuv420p - | ffmpeg -nostdin -loglevel error "
                             f"{RAW} -i - {band}")
                _, truth, _ = report(tools, work, truth_cmd)
                run(f"ffmpeg -nostdin -loglevel error -y {RAW} -i {work}/st.yuv {vf} {encoder} "
                    f"{work}/coded.mkv")
                status, rows, summary = report(
                    tools, work, f"ffmpeg -nostdin -loglevel error -i {work}/coded.mkv "
                                 f"-fps_mode passthrough {band}")
                if len(rows) != len(truth):
                    sys.exit(f"{name}: {len(rows)} frames decoded, {len(truth)} in the truth")
                p = pooled.setdefault(name, [0, 0, 0, 0])
                for got, want in zip(rows, truth):
                    p[0] += 1
                    ratio = int(got["bit_errors"] or 0) / max(1, int(got["next_bits"] or 1))
                    if got["record"] == "":
                        p[3] += 1
                    elif got["record"] == want["record"]:
                        p[1] += 1
                        worst_right = max(worst_right, ratio)
                    else:
                        p[2] += 1
                        best_wrong = min(best_wrong, ratio)
                print(f"{source} | {name} | status {status} | {summary}", file=sys.stderr)
    finally:
        shutil.rmtree(work)
    print(f"{args.frames} frames of each of sources {args.sources}; "
          f"`bench/identity.py {' '.join(sys.argv[1:])}`\n")
    print("| chain | frames | identified | wrongly | unidentified |")
    print("|---|---|---|---|---|")
    for name, _, _ in CHAINS:
        frames, right, wrong, unknown = pooled[name]
        print(f"| {name} | {frames} | {right} | {wrong} | {unknown} |")
    print(f"\nlargest distance ratio of a right match: {worst_right:.2f}; "
          f"smallest of a wrong one: {best_wrong if best_wrong < 9 else 'none'}")


if __name__ == "__main__":
    sys.exit(main())
