#!/usr/bin/env python3
"""A stamp read in the renditions a streaming ladder scales it into, at
their own size, with the built programs.

For each generated source (A-D of bench/sources.sh, at each master's
size), random payloads of 40 bytes are packed by `wmpack` (K = 40) and
stamped by `wmstamp` into a YUV4MPEG2 master: 1080p (2 band rows), 2160p
(4 rows) and 1080p with `--band-rows 8`. Each master is scaled by ffmpeg
(`scale`, bicubic and area) to the renditions below, sent lossless, through
libx264 CRF 23 and libx265 CRF 28, decoded to a YUV4MPEG2 stream and read
by `wmextract` at the rendition's size with nothing else said (the 8-row
master with `--band-rows 8`):

  exact       frames whose payload is its record (`--by-position --verify`)
  K = 40      frames exact after the code (`--fec 40 --by-position --verify`)
  identified  frames whose record the report names (`--fec 40 --report`)

The same renditions of the sources unstamped say how many pictures read as
a band (`wmextract` without `--verify`: frames not named `no band`).

Targets: 720p exact without the code (lossless and libx264); 540p through
libx264 exact with K = 40; 540p through libx265 every frame identified;
426x240 with 8 rows through libx264 exact with K = 40.

usage: bench/renditions.py [--build build] [--frames 30] [--sources ABCD]
                           [--seed 1] [--out renditions]
"""
import argparse
import csv
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from summary import payload_source, verified  # noqa: E402

SOURCES = {
    "A": "testsrc2=size={s}:rate=25,noise=alls=12:allf=t",
    "B": "mandelbrot=size={s}:rate=25",
    "C": "gradients=size={s}:rate=25:speed=0.02",
    "D": "life=size={s}:rate=25:mold=10:ratio=0.4:death_color=#603020:life_color=#e0e0a0",
}
# (name, width, height, --band-rows or None, renditions)
MASTERS = [
    ("1080p, 2 rows", 1920, 1080, None, [(1280, 720), (960, 540), (640, 360)]),
    ("2160p, 4 rows", 3840, 2160, None, [(1920, 1080), (1280, 720), (960, 540), (640, 360)]),
    ("1080p, 8 rows", 1920, 1080, 8, [(640, 360), (426, 240)]),
]
SCALERS = ["bicubic", "area"]
ENCODERS = {
    "lossless": None,
    "x264 CRF 23": "-c:v libx264 -preset medium -crf 23 -threads 2",
    "x265 CRF 28": "-c:v libx265 -preset fast -crf 28 -x265-params log-level=error",
}
FF = "ffmpeg -nostdin -loglevel error -y"


def run(cmd, check=True):
    r = subprocess.run(["bash", "-o", "pipefail", "-c", cmd], capture_output=True, text=True)
    if check and r.returncode != 0:
        sys.exit(f"failed ({r.returncode}): {cmd}\n{r.stderr}")
    return r


def rendition(master, w, h, scaler, encoder, out, work):
    """The master scaled to w x h, through the encoder, decoded to YUV4MPEG2."""
    scale = f"-vf scale={w}:{h}:flags={scaler} -pix_fmt yuv420p"
    if ENCODERS[encoder] is None:
        run(f"{FF} -i {master} {scale} -f yuv4mpegpipe {out}")
        return
    coded = os.path.join(work, "coded.mkv")
    run(f"{FF} -i {master} {scale} {ENCODERS[encoder]} {coded}")
    run(f"{FF} -i {coded} -fps_mode passthrough -pix_fmt yuv420p -f yuv4mpegpipe {out}")


def read(extract, video, packed, data, rows, work):
    """(frames, exact, exact with K = 40, identified) of a decoded rendition."""
    extra = f"--band-rows {rows} " if rows else ""
    plain = verified(run(f"{extract} {extra}--by-position --verify {packed} {video}",
                         check=False).stderr)
    coded = verified(run(f"{extract} {extra}--fec 40 --by-position --verify {data} {video}",
                         check=False).stderr)
    report = os.path.join(work, "report.csv")
    run(f"{extract} {extra}--fec 40 --force --report {report} --verify {data} {video}",
        check=False)
    identified = 0
    with open(report) as f:
        for line in list(csv.reader(f))[1:]:
            identified += line[1] == line[0]
    frames = plain[0] if plain else 0
    return (frames, frames - plain[1] if plain else 0, coded[0] - coded[1] if coded else 0,
            identified)


def looks_stamped(extract, video, rows, work):
    """Frames of an unstamped rendition that read as a band."""
    extra = f"--band-rows {rows} " if rows else ""
    r = run(f"{extract} {extra}--force {video} {os.path.join(work, 'payloads')}", check=False)
    frames = re.search(r"^extracted (\d+) payloads?", r.stderr, re.MULTILINE)
    return int(frames.group(1)) - len(re.findall(r": no band$", r.stderr, re.MULTILINE))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--frames", type=int, default=30)
    parser.add_argument("--sources", default="ABCD")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", default="renditions")
    args = parser.parse_args()
    tool = lambda name: shlex.quote(os.path.realpath(os.path.join(args.build, name)))
    stamp, extract, pack = tool("wmstamp"), tool("wmextract"), tool("wmpack")
    os.makedirs(args.out, exist_ok=True)
    payloads = payload_source(args.seed)
    print(f"payloads from seed {args.seed}", file=sys.stderr)
    results, likeness = [], []
    work = tempfile.mkdtemp(prefix="wmrenditions-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    try:
        q = lambda name: shlex.quote(os.path.join(work, name))
        for src in args.sources:
            with open(os.path.join(work, "data.d40"), "wb") as f:
                f.write(payloads(40 * args.frames))
            run(f"{pack} --force {q('data.d40')} {q('packed.wm')}")
            for name, w0, h0, rows, sizes in MASTERS:
                graph = shlex.quote(SOURCES[src].format(s=f"{w0}x{h0}"))
                run(f"{FF} -f lavfi -i {graph} -frames:v {args.frames} -pix_fmt yuv420p "
                    f"-f yuv4mpegpipe {q('src.y4m')}")
                option = f"--band-rows {rows} " if rows else ""
                run(f"{stamp} {option}{q('src.y4m')} {q('packed.wm')} {q('master.y4m')}")
                for w, h in sizes:
                    for scaler in SCALERS:
                        for encoder in ENCODERS:
                            rendition(q("master.y4m"), w, h, scaler, encoder, q("r.y4m"), work)
                            got = read(extract, q("r.y4m"), q("packed.wm"), q("data.d40"), rows,
                                       work)
                            results.append((src, name, f"{w}x{h}", scaler, encoder) + got)
                            print(src, name, w, h, scaler, encoder, got, file=sys.stderr)
                            if rows is None and encoder != "x265 CRF 28":
                                rendition(q("src.y4m"), w, h, scaler, encoder, q("u.y4m"), work)
                                likeness.append((src, name, f"{w}x{h}", scaler, encoder,
                                                 got[0], looks_stamped(extract, q("u.y4m"),
                                                                       rows, work)))
            for f in ("src.y4m", "master.y4m", "r.y4m", "u.y4m"):
                if os.path.exists(os.path.join(work, f)):
                    os.remove(os.path.join(work, f))
    finally:
        shutil.rmtree(work)

    with open(os.path.join(args.out, "renditions.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["source", "master", "rendition", "scaler", "encoder", "frames", "exact",
                    "exact_k40", "identified"])
        w.writerows(results)
    # Pooled over the sources: exact / exact with K = 40 / identified, of N.
    pooled = {}
    for src, master, size, scaler, encoder, frames, exact, k40, ident in results:
        cell = pooled.setdefault((master, size, scaler, encoder), [0, 0, 0, 0])
        for i, v in enumerate((frames, exact, k40, ident)):
            cell[i] += v
    lines = [f"{len(args.sources)} sources ({args.sources}) x {args.frames} frames, payloads "
             f"from seed {args.seed}; each cell: exact / exact with K = 40 / identified, of the "
             "frames read", "",
             "| master | rendition | scaler | " + " | ".join(ENCODERS) + " |",
             "|---|---|---|" + "---|" * len(ENCODERS)]
    for name, _, _, _, sizes in MASTERS:
        for w, h in sizes:
            for scaler in SCALERS:
                cells = []
                for encoder in ENCODERS:
                    n, e, k, i = pooled[(name, f"{w}x{h}", scaler, encoder)]
                    cells.append(f"{e} / {k} / {i} of {n}")
                lines.append(f"| {name} | {w}x{h} | {scaler} | " + " | ".join(cells) + " |")
    unstamped = {}
    for src, master, size, scaler, encoder, frames, band in likeness:
        cell = unstamped.setdefault((master, size, encoder), [0, 0, {}])
        cell[0] += frames
        cell[1] += band
        if band:
            cell[2][src] = cell[2].get(src, 0) + band
    lines += ["", "Unstamped renditions (bicubic and area) that read as a band:", "",
              "| master size | rendition | encoder | frames | read as a band | by source |",
              "|---|---|---|---|---|---|"]
    for (master, size, encoder), (n, band, by) in unstamped.items():
        lines.append(f"| {master.split(',')[0]} | {size} | {encoder} | {n} | {band} | "
                     f"{', '.join(f'{k} {v}' for k, v in by.items()) or '-'} |")

    def cell(master, size, encoder):
        return [pooled[(master, size, s, encoder)] for s in SCALERS]
    targets = [
        ("720p exact without the code (lossless, libx264)",
         all(n == e for m in ("1080p, 2 rows", "2160p, 4 rows")
             for enc in ("lossless", "x264 CRF 23") for n, e, _, _ in cell(m, "1280x720", enc))),
        ("540p through libx264 exact with K = 40",
         all(n == k for m in ("1080p, 2 rows", "2160p, 4 rows")
             for n, _, k, _ in cell(m, "960x540", "x264 CRF 23"))),
        ("540p through libx265 every frame identified",
         all(n == i for m in ("1080p, 2 rows", "2160p, 4 rows")
             for n, _, _, i in cell(m, "960x540", "x265 CRF 28"))),
        ("426x240 with 8 rows through libx264 exact with K = 40",
         all(n == k for n, _, k, _ in cell("1080p, 8 rows", "426x240", "x264 CRF 23"))),
    ]
    lines += ["", "Targets:", ""] + [f"- {t}: {'met' if ok else 'NOT MET'}" for t, ok in targets]
    table = "\n".join(lines) + "\n"
    with open(os.path.join(args.out, "renditions.md"), "w") as f:
        f.write(table)
    print(table)
    return 0 if all(ok for _, ok in targets) else 1


if __name__ == "__main__":
    sys.exit(main())
