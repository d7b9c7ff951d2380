#!/usr/bin/env python3
"""Latency, drops and reading cost of the clock form, measured on this machine.

(a) relay: `wmstamp --clock` into the test relay that holds every frame for
    0, 100 and 300 ms, into `wmextract --clock`: the median latency each run
    reports, and its excess over the 0 ms run of the same round (the
    reference: the pipes alone).
(b) live: `ffmpeg -re` feeds `wmstamp --clock` at 25 fps; ffmpeg drops every
    frame n with n mod 50 = 17 (a select filter), encodes with libx264
    -tune zerolatency and sends MPEG-TS over UDP on the loopback; a second
    ffmpeg receives, decodes and pipes raw frames into `wmextract --clock`.
    The reference in the same rounds is the same feed with no encoder
    (`ffmpeg -re | wmstamp --clock | wmextract --clock`). Each run's
    figures come from its report, over the frames that arrived before the
    sender ended (the last frame waits for the receiver's time-out), and its
    missing counters are checked against the ones the filter dropped.
(c) read: the cost a frame of `wmextract --clock` on a 1080p and a 4K file in memory,
    against the extract form on the same file (`wmextract FILE /dev/null`)
    and against `cat FILE` through a pipe; and its peak memory over 50 and
    2,000 frames of a pipe.

Each round runs every command of a part once, in shuffled order, with
`sync` before each run; the tables give the lower quartile and the minimum
over the rounds, with the median for latencies.

usage: bench/latency.py [--build build] [--rounds 11] [--seconds 12]
                        [--parts abc] [--seed 1]
"""
import argparse
import csv
import math
import os
import random
import shlex
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from summary import clocked  # noqa: E402

FRAME = 3110400
DROP_EVERY, DROP_AT = 50, 17


def sh(command, **kw):
    return subprocess.run(["bash", "-c", command], check=True, **kw)


def quartile(values):
    ordered = sorted(values)
    return ordered[(len(ordered) - 1) // 4]


def nearest_rank(ordered, q):
    return ordered[max(1, math.ceil(q * len(ordered))) - 1]


def report_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def summary_median(text):
    found = clocked(text)
    return found["median"] if found else None


def part_relay(tools, work, rounds, rng):
    stamp, extract, relay = tools
    src = os.path.join(work, "relay-src.yuv")
    sh(f"ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 "
       f"-frames:v 50 -f rawvideo -pix_fmt yuv420p {shlex.quote(src)}")
    holds = [0, 100, 300]
    medians = {h: [] for h in holds}
    excess = {h: [] for h in holds}
    command = {}
    for h in holds:
        command[h] = (f"{stamp} --clock {shlex.quote(src)} - 2>/dev/null | {relay} {FRAME} {h} | "
                      f"{extract} --clock -")
    for _ in range(rounds):
        order = holds[:]
        rng.shuffle(order)
        got = {}
        for h in order:
            sh("sync")
            r = sh(command[h], stderr=subprocess.PIPE, text=True)
            got[h] = summary_median(r.stderr)
            medians[h].append(got[h])
        for h in holds:
            excess[h].append(got[h] - got[0])
    print("## (a) relay: median latency reported, 50 frames a run, "
          f"{rounds} rounds\n")
    print(f"command: `{command[100]}` (hold 0, 100, 300 ms)\n")
    print("| hold ms | median: min | lower quartile | median | excess over 0 ms: min | "
          "lower quartile |")
    print("|---|---|---|---|---|---|")
    for h in holds:
        print(f"| {h} | {min(medians[h]):.2f} | {quartile(medians[h]):.2f} | "
              f"{statistics.median(medians[h]):.2f} | {min(excess[h]):.2f} | "
              f"{quartile(excess[h]):.2f} |")
    print()


def live_run(tools, work, seconds, encoded):
    stamp, extract, _ = tools
    report = os.path.join(work, "live.csv")
    feed = (f"ffmpeg -nostdin -loglevel error -re -f lavfi -i testsrc2=size=1920x1080:rate=25 "
            f"-t {seconds} -f rawvideo -pix_fmt yuv420p - | {stamp} --clock - - 2>/dev/null")
    if os.path.exists(report):
        os.remove(report)
    if not encoded:
        sender = f"{feed} | {extract} --clock --report {shlex.quote(report)} - 2>/dev/null"
        start = time.time_ns()
        sh(sender)
        return report_rows(report), time.time_ns(), start
    port = free_port()
    url = f"udp://127.0.0.1:{port}"
    receiver = (f"ffmpeg -nostdin -loglevel error -fflags nobuffer -flags low_delay "
                f"-probesize 500000 -analyzeduration 500000 -threads 1 "
                f"-i '{url}?timeout=3000000&buffer_size=4000000&fifo_size=100000"
                f"&overrun_nonfatal=1' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p - "
                f"2>/dev/null | {extract} --clock --report {shlex.quote(report)} - 2>/dev/null")
    sender = (f"{feed} | ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt yuv420p "
              f"-s 1920x1080 -r 25 -i - "
              f"-vf \"select='not(eq(mod(n\\,{DROP_EVERY})\\,{DROP_AT}))'\" "
              f"-fps_mode passthrough -c:v libx264 -preset ultrafast -tune zerolatency -g 25 "
              f"-f mpegts '{url}?pkt_size=1316'")
    listening = subprocess.Popen(["bash", "-c", receiver])
    # The receiver is up once its socket is bound.
    for _ in range(200):
        ss = subprocess.run(["ss", "-uln", f"sport = :{port}"], capture_output=True, text=True)
        if str(port) in ss.stdout:
            break
        time.sleep(0.05)
    start = time.time_ns()
    sh(sender)
    ended = time.time_ns()
    listening.wait()
    return report_rows(report), ended, start, receiver, sender


def live_figures(rows, ended):
    live = [r for r in rows if r["latency_ms"] and int(r["arrived_ns"]) <= ended]
    lat = sorted(float(r["latency_ms"]) for r in live)
    counters = [int(r["counter"]) for r in rows if r["counter"]]
    missing = set()
    previous = None
    for r in rows:
        if not r["counter"]:
            continue
        c = int(r["counter"])
        if previous is not None and c > previous + 1:
            missing.update(range(previous + 1, c))
        previous = c if previous is None else max(previous, c)
    first, last = min(counters), max(counters)
    dropped = {n for n in range(first + 1, last) if n % DROP_EVERY == DROP_AT}
    unread = sum(1 for r in rows if not r["counter"])
    broken = sum(1 for r in rows if r["step"] in ("repeat", "out of order", "restart"))
    return {
        "min": lat[0], "median": statistics.median(lat), "p95": nearest_rank(lat, 0.95),
        "max": lat[-1], "frames": len(rows), "exact": missing == dropped,
        "dropped": len(dropped), "missing": len(missing), "unread": unread, "broken": broken,
    }


def part_live(tools, work, rounds, seconds, rng):
    names = ["x264 over UDP", "pipes only (reference)"]
    runs = {n: [] for n in names}
    commands = None
    for _ in range(rounds):
        order = names[:]
        rng.shuffle(order)
        for name in order:
            sh("sync")
            if name == names[0]:
                rows, ended, _, receiver, sender = live_run(tools, work, seconds, True)
                commands = (receiver, sender)
            else:
                rows, ended, _ = live_run(tools, work, seconds, False)
            runs[name].append(live_figures(rows, ended))
    print(f"## (b) live chain at 25 fps, {seconds} s a run, {rounds} rounds\n")
    print(f"receiver: `{commands[0]}`\n")
    print(f"sender: `{commands[1]}`\n")
    print("| chain | figure | min | lower quartile | median |")
    print("|---|---|---|---|---|")
    for name in names:
        for key in ["min", "median", "p95", "max"]:
            values = [r[key] for r in runs[name]]
            print(f"| {name} | latency ms {key} | {min(values):.2f} | {quartile(values):.2f} | "
                  f"{statistics.median(values):.2f} |")
    chain = runs[names[0]]
    print()
    print(f"x264 chain: frames dropped by the select filter within the counters read, "
          f"{sum(r['dropped'] for r in chain)} in all; counters reported missing "
          f"{sum(r['missing'] for r in chain)}; runs where the two sets are equal: "
          f"{sum(1 for r in chain if r['exact'])} of {len(chain)}; frames uncorrectable or "
          f"without a band: {sum(r['unread'] for r in chain)}; repeated, out of order or "
          f"restarted: {sum(r['broken'] for r in chain)}; frames read a run: "
          f"{min(r['frames'] for r in chain)} to {max(r['frames'] for r in chain)}.\n")


def part_read(tools, work, rounds, rng):
    stamp, extract, _ = tools
    shm = tempfile.mkdtemp(prefix="wmlatency-", dir="/dev/shm")
    try:
        for name, size, frames in (("1080p", "1920x1080", 100), ("4K", "3840x2160", 100)):
            src, video = os.path.join(shm, "src.yuv"), os.path.join(shm, "clock.yuv")
            sh(f"ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size={size}:rate=25 "
               f"-frames:v {frames} -f rawvideo -pix_fmt yuv420p {shlex.quote(src)}")
            opt = f"--size {size}"
            sh(f"{stamp} {opt} --clock {shlex.quote(src)} {shlex.quote(video)} > /dev/null")
            v = shlex.quote(video)
            commands = {
                "wmextract --clock FILE": f"{extract} {opt} --clock {v}",
                "wmextract FILE /dev/null (reference)": f"{extract} {opt} --force {v} /dev/null",
                "cat FILE | wmextract --clock -": f"cat {v} | {extract} {opt} --clock -",
                "cat FILE | cat > /dev/null (reference)": f"cat {v} | cat > /dev/null",
            }
            times = {k: [] for k in commands}
            for _ in range(rounds):
                order = list(commands)
                rng.shuffle(order)
                for k in order:
                    sh("sync")
                    start = time.perf_counter()
                    sh(commands[k], stderr=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
                    times[k].append((time.perf_counter() - start) / frames * 1e6)
            print(f"## (c) reading cost at {name}, {frames} frames in /dev/shm, {rounds} rounds\n")
            print("| command | us a frame: min | lower quartile |")
            print("|---|---|---|")
            for k, c in commands.items():
                print(f"| `{c.replace(shm, '/dev/shm/...')}` | {min(times[k]):.1f} | "
                      f"{quartile(times[k]):.1f} |")
            print()
            os.remove(src)
            os.remove(video)
        # Memory stays bounded however long the stream: the same peak at
        # 50 frames as at 2,000.
        for n in (50, 2000):
            command = (f"head -c {FRAME * n} /dev/zero | {stamp} --clock - - 2>/dev/null | "
                       f"/usr/bin/time -f %M {extract} --clock -")
            r = sh(command, stderr=subprocess.PIPE, text=True)
            print(f"peak resident memory of `wmextract --clock -` over {n} frames: "
                  f"{r.stderr.split()[-1]} KiB\n")
    finally:
        shutil.rmtree(shm)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--seconds", type=int, default=12)
    parser.add_argument("--parts", default="abc")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    build = os.path.realpath(args.build)
    tools = tuple(shlex.quote(os.path.join(build, p))
                  for p in ("wmstamp", "wmextract", "tests/relay"))
    if shutil.which("ffmpeg") is None:
        sys.exit("latency.py needs ffmpeg with libx264")
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix="wmlatency-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    try:
        if "a" in args.parts:
            part_relay(tools, work, args.rounds, rng)
        if "b" in args.parts:
            part_live(tools, work, args.rounds, args.seconds, rng)
        if "c" in args.parts:
            part_read(tools, work, args.rounds, rng)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
