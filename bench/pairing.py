#!/usr/bin/env python3
"""Quality metrics through chains that drop and repeat frames: per-frame
PSNR and SSIM of a decoded video (a) against the stamped source by
position, as metric tools pair frames, (b) against `wmextract --pair`'s
PAIRED, and (c) against the truth, the same timing filter applied to the
stamped source without the encoder.

Each source is stamped with one random record a frame, sent through a
timing filter and libx264 CRF 23, decoded to raw frames and paired. The
metrics are ffmpeg's psnr and ssim filters on luma (psnr_y, SSIM Y), both
inputs raw at one frame rate, so that frame n meets frame n. Prints a
Markdown table pooled over the sources (frames, identified, (b) = (c) on
identified frames, mean PSNR and SSIM of (a), (b) and (c), and the frames
where (a) is off by more than 0.01 dB), writes the per-frame figures (CSV)
and a chart of PSNR over frames, (a) against (b), for one source (PNG,
gnuplot) to --out.

Target: (b) equals (c) on every identified frame, mean PSNR within 0.01 dB.

With --timing it times instead `wmextract --pair` on a 1080p file against
`wmextract --verify` alone (and `cat` copying the stamped file, for scale):
every command once a round, rounds shuffled, `sync` and a fresh output
before every run; lower quartiles and minima.

usage: bench/pairing.py [--build build] [--frames 50] [--sources ABCD] [--out pairing]
                        [--chart-source A]
       bench/pairing.py --timing [--build build] [--timing-frames 300] [--rounds 11]
"""
import argparse
import csv
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from speed import peak_rss_kib, quartile, timed  # noqa: E402
from survival import RAW, SOURCES, X264  # noqa: E402

CHAINS = [
    ("drop every 7th (select)", r"select=not(eq(mod(n\,7)\,6)),setpts=N/25/TB"),
    ("fps=24 from 25", "fps=24"),
    ("fps=30", "fps=30"),
    ("trim=start_frame=3", "trim=start_frame=3,setpts=PTS-STARTPTS"),
]
ENCODER = f"{X264} -crf 23"
FRAME = 3110400


def sh(command):
    r = subprocess.run(["bash", "-o", "pipefail", "-c", command], capture_output=True, text=True)
    return r.returncode, r.stdout, r.stderr


def must(command):
    status, out, err = sh(command)
    if status != 0:
        sys.exit(f"failed ({status}): {command}\n{err}")
    return out


def metrics(video, reference, work):
    """Per-frame luma PSNR and SSIM of `video` against `reference`, frame n
    against frame n, as far as the shorter goes."""
    stats = {m: os.path.join(work, m + ".log") for m in ("psnr", "ssim")}
    must(f"ffmpeg -nostdin -loglevel error {RAW} -i {video} {RAW} -i {reference} "
         f"-lavfi '[0:v]split[a][b];[1:v]split[c][d];"
         f"[a][c]psnr=shortest=1:stats_file={stats['psnr']};"
         f"[b][d]ssim=shortest=1:stats_file={stats['ssim']}' -f null -")
    with open(stats["psnr"]) as f:
        psnr = [float(re.search(r"psnr_y:(\S+)", line).group(1).replace("inf", "1e9"))
                for line in f]
    with open(stats["ssim"]) as f:
        ssim = [float(re.search(r" Y:(\S+)", line).group(1)) for line in f]
    return psnr, ssim


def mean(values):
    return sum(values) / len(values) if values else float("nan")


def measure(args, tools, work):
    rows = []
    q = lambda name: shlex.quote(os.path.join(work, name))
    for source in args.sources:
        must(f"ffmpeg -nostdin -loglevel error -y -f lavfi -i {shlex.quote(SOURCES[source][1])} "
             f"-frames:v {args.frames} -f rawvideo -pix_fmt yuv420p {q('src.yuv')}")
        with open(os.path.join(work, "wm.bin"), "wb") as f:
            f.write(os.urandom(60 * args.frames))
        must(f"{tools['stamp']} {q('src.yuv')} {q('wm.bin')} {q('st.yuv')} >/dev/null")
        for name, timing in CHAINS:
            vf = shlex.quote(timing)
            must(f"ffmpeg -nostdin -loglevel error -y {RAW} -i {q('st.yuv')} -vf {vf} "
                 f"-f rawvideo {q('truth.yuv')}")
            must(f"ffmpeg -nostdin -loglevel error -y {RAW} -i {q('st.yuv')} -vf {vf} {ENCODER} "
                 f"{q('coded.mkv')}")
            must(f"ffmpeg -nostdin -loglevel error -y -i {q('coded.mkv')} -fps_mode passthrough "
                 f"-f rawvideo -pix_fmt yuv420p {q('dec.yuv')}")
            status, _, err = sh(f"{tools['extract']} --force --report {q('r.csv')} --pair "
                                f"{q('st.yuv')} {q('paired.yuv')} --verify {q('wm.bin')} "
                                f"{q('dec.yuv')}")
            if status not in (0, 3, 4):
                sys.exit(f"{source} {name}: wmextract --pair ended with {status}\n{err}")
            with open(os.path.join(work, "r.csv")) as f:
                report = list(csv.DictReader(f))
            a = metrics(q("dec.yuv"), q("st.yuv"), work)
            b = metrics(q("dec.yuv"), q("paired.yuv"), work)
            c = metrics(q("dec.yuv"), q("truth.yuv"), work)
            if not len(b[0]) == len(c[0]) == len(report):
                sys.exit(f"{source} {name}: {len(report)} report lines, {len(b[0])} paired "
                         f"frames, {len(c[0])} true ones")
            for n, line in enumerate(report):
                rows.append({"source": source, "chain": name, "frame": n,
                             "paired": line["paired"],
                             "psnr_a": a[0][n] if n < len(a[0]) else "",
                             "psnr_b": b[0][n], "psnr_c": c[0][n],
                             "ssim_a": a[1][n] if n < len(a[1]) else "",
                             "ssim_b": b[1][n], "ssim_c": c[1][n]})
            print(f"{source} | {name} | status {status} | {err.strip().splitlines()[-1]}",
                  file=sys.stderr)
    return rows


def table(rows, args):
    print(f"{args.frames} frames of each of sources {args.sources} through libx264 CRF 23; "
          f"luma PSNR (dB) and SSIM; `bench/pairing.py {' '.join(sys.argv[1:])}`\n")
    print("| chain | frames | paired by record | (b) = (c) on those | mean PSNR (c) truth | "
          "(b) --pair | (a) by position | (a) frames off | mean SSIM (c) | (b) | (a) |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for name, _ in CHAINS:
        r = [row for row in rows if row["chain"] == name]
        named = [row for row in r if row["paired"] == "record"]
        same = sum(1 for row in named
                   if row["psnr_b"] == row["psnr_c"] and row["ssim_b"] == row["ssim_c"])
        by_position = [row for row in r if row["psnr_a"] != ""]
        off = sum(1 for row in by_position if abs(row["psnr_a"] - row["psnr_c"]) > 0.01)
        print(f"| {name} | {len(r)} | {len(named)} | {same} | "
              f"{mean([x['psnr_c'] for x in r]):.3f} | {mean([x['psnr_b'] for x in r]):.3f} | "
              f"{mean([x['psnr_a'] for x in by_position]):.3f} | {off} of {len(by_position)} | "
              f"{mean([x['ssim_c'] for x in r]):.4f} | {mean([x['ssim_b'] for x in r]):.4f} | "
              f"{mean([x['ssim_a'] for x in by_position]):.4f} |")
    print("\nBy source, mean PSNR (dB) (c) truth, (b) --pair, (a) by position:\n")
    print("| source | " + " | ".join(name for name, _ in CHAINS) + " |")
    print("|---|" + "---|" * len(CHAINS))
    for source in args.sources:
        cells = []
        for name, _ in CHAINS:
            r = [x for x in rows if x["chain"] == name and x["source"] == source]
            a = [x["psnr_a"] for x in r if x["psnr_a"] != ""]
            cells.append(f"{mean([x['psnr_c'] for x in r]):.2f}, "
                         f"{mean([x['psnr_b'] for x in r]):.2f}, {mean(a):.2f}")
        print(f"| {source}: {SOURCES[source][0]} | " + " | ".join(cells) + " |")
    worst = max(abs(mean([x["psnr_b"] for x in rows if x["chain"] == n and x["source"] == s]) -
                    mean([x["psnr_c"] for x in rows if x["chain"] == n and x["source"] == s]))
                for n, _ in CHAINS for s in args.sources)
    print(f"\nlargest difference of mean PSNR, (b) against (c), of one source and chain: "
          f"{worst:.4f} dB")


def chart(rows, source, path):
    """PSNR over frames, (a) against (b), one panel a chain, for one source."""
    data = path + ".dat"
    with open(data, "w") as f:
        for name, _ in CHAINS:
            for row in rows:
                if row["source"] == source and row["chain"] == name:
                    f.write(f"{row['frame']} {row['psnr_b']:.3f} {row['psnr_a'] or '?'}\n")
            f.write("\n\n")
    script = ["set terminal png size 900,520", f"set output '{path}'",
              "set datafile missing '?'", "set xlabel 'decoded frame'",
              "set ylabel 'PSNR Y (dB)'", "set key outside below horizontal noenhanced",
              "set multiplot layout 2,2"]
    for index, (name, _) in enumerate(CHAINS):
        script.append(f"set title '{source}: {name}, libx264 CRF 23' noenhanced")
        script.append(f"plot '{data}' index {index} using 1:2 with lines lw 2 title '(b) --pair', "
                      f"'' index {index} using 1:3 with linespoints pt 7 ps 0.4 "
                      f"title '(a) by position'")
    script.append("unset multiplot")
    subprocess.run(["gnuplot"], input="\n".join(script), text=True, check=True)
    os.remove(data)


def timing(args, tools, work):
    q = lambda name: shlex.quote(os.path.join(work, name))
    frames = args.timing_frames
    must(f"ffmpeg -nostdin -loglevel error -y -f lavfi -i {shlex.quote(SOURCES['A'][1])} "
         f"-frames:v {frames} -f rawvideo -pix_fmt yuv420p {q('src.yuv')}")
    must(f"head -c {60 * frames} /dev/urandom > {q('wm.bin')}")
    must(f"{tools['stamp']} {q('src.yuv')} {q('wm.bin')} {q('st.yuv')} >/dev/null")
    # The decoded video: every 7th frame dropped, without an encoder.
    must(f"ffmpeg -nostdin -loglevel error -y {RAW} -i {q('st.yuv')} "
         f"-vf {shlex.quote(CHAINS[0][1])} -f rawvideo {q('v.yuv')}")
    paired = os.path.join(work, "paired.yuv")
    commands = [
        ("verify", f"{tools['extract']} --verify {q('wm.bin')} {q('v.yuv')}", None),
        ("pair", f"{tools['extract']} --pair {q('st.yuv')} {q('paired.yuv')} --verify "
                 f"{q('wm.bin')} {q('v.yuv')}", paired),
        ("cat", f"cat {q('st.yuv')} > {q('paired.yuv')}", paired),
    ]
    times = {name: [] for name, _, _ in commands}
    # wmextract ends with 4 (frames missing): the timing wants any status.
    runs = [(name, command + " || true", fresh) for name, command, fresh in commands]
    for _ in range(args.rounds):
        random.shuffle(runs)
        for name, command, fresh in runs:
            times[name].append(timed(command, fresh))
    decoded = os.path.getsize(os.path.join(work, "v.yuv")) // FRAME
    print(f"{decoded} decoded frames of 1920x1080 (every 7th of {frames} dropped), "
          f"{args.rounds} rounds in shuffled order, sync and a fresh output before every run; "
          f"`bench/pairing.py {' '.join(sys.argv[1:])}`\n")
    print("| command | lower quartile (s) | min (s) | ratio to --verify alone |")
    print("|---|---|---|---|")
    base = quartile(times["verify"]), min(times["verify"])
    for name, command, _ in commands:
        t = times[name]
        shown = command.replace(work + "/", "").replace(tools["extract"], "wmextract")
        print(f"| `{shown}` | {quartile(t):.3f} | {min(t):.3f} | "
              f"{quartile(t) / base[0]:.2f} ({min(t) / base[1]:.2f}) |")
    # Peak memory: STAMPED as a file, and through a pipe with its window.
    print("\n| command | peak RSS (MiB) |")
    print("|---|---|")
    piped = (f"cat {q('st.yuv')} | {tools['extract']} --force --pair - {q('paired.yuv')} "
             f"--verify {q('wm.bin')} {q('v.yuv')}")
    for command in (commands[0][1], commands[1][1].replace("--pair", "--force --pair"), piped):
        shown = (command.replace(work + "/", "").replace(tools["extract"], "wmextract")
                 .replace("|", "\\|"))
        rss = peak_rss_kib("bash -c " + shlex.quote(command + " || true"))
        print(f"| `{shown}` | {rss / 1024:.1f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--frames", type=int, default=50)
    parser.add_argument("--sources", default="ABCD")
    parser.add_argument("--out", default="pairing")
    parser.add_argument("--chart-source", default="A")
    parser.add_argument("--timing", action="store_true")
    parser.add_argument("--timing-frames", type=int, default=300)
    parser.add_argument("--rounds", type=int, default=11)
    args = parser.parse_args()
    tools = {p: shlex.quote(os.path.realpath(os.path.join(args.build, "wm" + p)))
             for p in ("stamp", "extract")}
    work = tempfile.mkdtemp(prefix="wmpairing-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    try:
        if args.timing:
            timing(args, tools, work)
            return 0
        rows = measure(args, tools, work)
    finally:
        shutil.rmtree(work)
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "pairing.csv"), "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=list(rows[0]))
        writer.writeheader()
        writer.writerows(rows)
    table(rows, args)
    if args.chart_source in args.sources:
        chart(rows, args.chart_source, os.path.join(args.out, "pairing.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
