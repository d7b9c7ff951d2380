#!/usr/bin/env python3
"""Times wmstamp and wmextract against reference commands on the same data.

Each round runs every command once, in shuffled order, with `sync` before
each run and a fresh output; after the rounds it reports each command's
lower-quartile and minimum wall time and the ratios to its reference.
These machines are bimodal (some runs pay two to four times for fresh
memory), so the lower quartile and the minimum are the figures to quote.
Peak resident memory comes from GNU time at a short and a full length.

Targets: stamping file to file at most 1.05x cat (ext4, tmpfs, where it
streams), and where cat shares the source's blocks, at most 1.2x cat on XFS
(reflink) and 3x on btrfs, each with at most 1 % extra space; through a pipe at most 0.5x cat | cat, and
from a pipe to a file as fast as cat | cat, which bounds it;
verifying a file at least 20x faster than cat reading it; peak RSS under
8 MiB and the same at 10 frames as at the full length. At 4K (3840x2160,
raw 8-bit and a 10-bit YUV4MPEG2 stream): stamping a file within 1.1x cat,
verifying a file within 0.1x cat.

With --filesystems (root only) it also mounts a tmpfs and XFS and btrfs
images on loop devices in its scratch folder, and times stamping on each.

usage: bench/speed.py [--build build] [--frames 300] [--uhd-frames 75] [--rounds 11]
                      [--filesystems]
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

FRAME = 3110400
UHD = 3840 * 2160 * 3 // 2  # an 8-bit 4K frame; twice that at 10 bits


def sh(command):
    subprocess.run(["bash", "-c", command], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def timed(command, fresh):
    """Wall seconds of one run, after removing its output and syncing."""
    if fresh and os.path.exists(fresh):
        os.remove(fresh)
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    sh(command)
    return time.perf_counter() - start


def quartile(values):
    ordered = sorted(values)
    return ordered[(len(ordered) - 1) // 4]


def peak_rss_kib(command):
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M", "bash", "-c",
                        "exec " + command], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--frames", type=int, default=300)
    parser.add_argument("--uhd-frames", type=int, default=75)
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--filesystems", action="store_true")
    args = parser.parse_args()
    stamp = shlex.quote(os.path.realpath(os.path.join(args.build, "wmstamp")))
    extract = shlex.quote(os.path.realpath(os.path.join(args.build, "wmextract")))
    have_ffmpeg = shutil.which("ffmpeg") is not None

    work = tempfile.mkdtemp(prefix="wmbench-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    mounts = []
    try:
        q = lambda name: shlex.quote(os.path.join(work, name))
        src, wm, out, stamped = q("src.yuv"), q("wm.bin"), q("out.yuv"), q("stamped.yuv")
        sh(f"head -c {FRAME * args.frames} /dev/urandom > {src}")
        sh(f"head -c {60 * args.frames} /dev/urandom > {wm}")
        sh(f"{stamp} {src} {wm} {stamped}")
        sh(f"head -c {FRAME * 10} {src} > {q('short.yuv')}")
        # 4K: raw 8-bit frames, and a 10-bit YUV4MPEG2 stream as ffmpeg
        # writes one (a header, and a FRAME line before every frame).
        uhd, uhd10, st4k, st4k10 = q("uhd.yuv"), q("uhd10.y4m"), q("st4k.yuv"), q("st4k10.y4m")
        sh(f"head -c {UHD * args.uhd_frames} /dev/urandom > {uhd}")
        with open(os.path.join(work, "uhd10.y4m"), "wb") as f, open("/dev/urandom", "rb") as r:
            f.write(b"YUV4MPEG2 W3840 H2160 F25:1 Ip A1:1 C420p10 XYSCSS=420P10\n")
            for _ in range(args.uhd_frames):
                f.write(b"FRAME\n" + r.read(2 * UHD))
        sh(f"{stamp} --size 3840x2160 {uhd} {wm} {st4k}")
        sh(f"{stamp} {uhd10} {wm} {st4k10}")
        pairs = [
            ("stamp file to file", f"{stamp} {src} {wm} {out}", f"cat {src} > {out}", True),
            ("stamp a 4K file", f"{stamp} --size 3840x2160 {uhd} {wm} {out}",
             f"cat {uhd} > {out}", True),
            ("stamp a 4K 10-bit YUV4MPEG2 file", f"{stamp} {uhd10} {wm} {out}",
             f"cat {uhd10} > {out}", True),
            ("verify a 4K file", f"{extract} --size 3840x2160 --verify {wm} {st4k}",
             f"cat {st4k} > /dev/null", False),
            ("verify a 4K 10-bit YUV4MPEG2 file", f"{extract} --verify {wm} {st4k10}",
             f"cat {st4k10} > /dev/null", False),
            ("stamp from a pipe", f"cat {src} | {stamp} /dev/stdin {wm} /dev/null",
             f"cat {src} | cat > /dev/null", False),
            ("stamp from a pipe to a file", f"cat {src} | {stamp} - {wm} {out}",
             f"cat {src} | cat > {out}", True),
            ("verify a file", f"{extract} --verify {wm} {stamped}",
             f"cat {stamped} > /dev/null", False),
        ]
        if have_ffmpeg:
            clip = q("clip.mp4")
            sh(f"ffmpeg -nostdin -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 "
               f"-i {stamped} -frames:v 100 -c:v libx264 -preset ultrafast -crf 18 {clip}")
            decode = f"ffmpeg -nostdin -loglevel error -i {clip}"
            pairs.append(("ffmpeg decode, band only",
                          f"{decode} -vf crop=1920:2:0:0,extractplanes=y -f rawvideo - | "
                          f"{extract} --band --verify {wm} -",
                          f"{decode} -f rawvideo -pix_fmt yuv420p - | "
                          f"{extract} --verify {wm} -", False))

        space = {}
        if args.filesystems:
            image_mb = FRAME * args.frames * 3 // 1000000 + 200
            makers = {
                "tmpfs": f"mount -t tmpfs -o size={image_mb}m tmpfs",
                "XFS, reflink": f"truncate -s {image_mb}M {q('xfs.img')} && "
                                f"mkfs.xfs -q -m reflink=1 {q('xfs.img')} && "
                                f"mount -o loop {q('xfs.img')}",
                "btrfs": f"truncate -s {image_mb}M {q('btrfs.img')} && "
                         f"mkfs.btrfs -q {q('btrfs.img')} && mount -o loop {q('btrfs.img')}",
            }
            for fs, make in makers.items():
                point = os.path.join(work, fs.split(",")[0])
                os.mkdir(point)
                try:
                    sh(f"{make} {shlex.quote(point)}")
                except subprocess.CalledProcessError:
                    print(f"{fs}: cannot be mounted here (root, mkfs.xfs, mkfs.btrfs); left out")
                    continue
                mounts.append(point)
                fsrc = shlex.quote(os.path.join(point, "src.yuv"))
                fout = os.path.join(point, "out.yuv")
                sh(f"cp {src} {fsrc} && sync")
                pairs.append((f"stamp file to file on {fs}", f"{stamp} {fsrc} {wm} {fout}",
                              f"cat {fsrc} > {fout}", fout))
                space[fs] = (point, fsrc, fout)

        runs = []
        for name, tool, reference, writes in pairs:
            fresh = writes if isinstance(writes, str) else (out if writes else None)
            runs.append((name, "tool", tool, fresh))
            runs.append((name, "reference", reference, fresh))
        times = {(name, role): [] for name, role, _, _ in runs}
        for _ in range(args.rounds):
            random.shuffle(runs)
            for name, role, command, fresh in runs:
                times[(name, role)].append(timed(command, fresh))

        print(f"{args.frames} frames ({FRAME * args.frames / 1e6:.0f} MB), "
              f"{args.rounds} rounds in shuffled order, sync before every run")
        print()
        print("| case | command | lower quartile (s) | min (s) |")
        print("|---|---|---|---|")
        for name, tool, reference, _ in pairs:
            for role, command in (("tool", tool), ("reference", reference)):
                shown = command.replace(work + "/", "")
                t = times[(name, role)]
                print(f"| {name} | `{shown}` | {quartile(t):.3f} | {min(t):.3f} |")
        print()
        print("| case | ratio of lower quartiles | ratio of minima |")
        print("|---|---|---|")
        for name, _, _, _ in pairs:
            tool, ref = times[(name, "tool")], times[(name, "reference")]
            print(f"| {name} | {quartile(tool) / quartile(ref):.2f} "
                  f"| {min(tool) / min(ref):.2f} |")
        print()
        for fs, (point, fsrc, fout) in space.items():
            for role, command in (("wmstamp", f"{stamp} {fsrc} {wm} {shlex.quote(fout)}"),
                                  ("cat", f"cat {fsrc} > {shlex.quote(fout)}")):
                if os.path.exists(fout):
                    os.remove(fout)
                sh("sync")
                before = shutil.disk_usage(point).used
                sh(command + " && sync")
                extra = shutil.disk_usage(point).used - before
                print(f"extra space on {fs}, {role}: {100 * extra / os.path.getsize(fout):.2f} % "
                      f"of the output")
        print()
        short = peak_rss_kib(f"{stamp} {q('short.yuv')} {wm} /dev/null")
        full = peak_rss_kib(f"{stamp} {src} {wm} /dev/null")
        verify = peak_rss_kib(f"{extract} --verify {wm} {stamped}")
        print(f"peak RSS: wmstamp {short / 1024:.1f} MiB at 10 frames, "
              f"{full / 1024:.1f} MiB at {args.frames}; "
              f"wmextract --verify {verify / 1024:.1f} MiB at {args.frames}")
    finally:
        for point in mounts:
            subprocess.run(["umount", point], check=False)
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
