#!/usr/bin/env python3
"""Seed corpora for the fuzz targets, made from real inputs: stamped bands
(clean, noisy, and through x265 CRF 35 where ffmpeg has it, each after the
four bytes that choose 1920x1080), records and
frames with drops and damage, packed records with wrong bytes, the
command lines of the manual pages, and the first lines of real Y4M streams
(ffmpeg's, in every pixel format it writes there, taken or refused).

usage: tests/fuzz/make_corpus.py OUT_DIR BUILD_DIR   (BUILD_DIR holds wmstamp and wmpack)
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

LEVELS = (16, 89, 162, 235)
FRAME = 3110400


def band(payload):
    row = b"".join(bytes([LEVELS[(b >> s) & 3]]) * 8 for b in payload for s in (6, 4, 2, 0))
    return row + row


def main():
    out, build = sys.argv[1], sys.argv[2]
    rng = random.Random(1)
    seeds = {name: [] for name in ("band_decoder", "alignment", "reed_solomon", "arguments",
                                   "y4m", "command_line", "clock")}
    # The band decoder's first four bytes choose the size: 1920 wide, 8 bits,
    # two rows looked at, 1080 high.
    at1080 = bytes([0x20, 0x03, 0, 45])
    for _ in range(8):
        rows = band(rng.randbytes(60))
        seeds["band_decoder"].append(at1080 + rows)
        seeds["band_decoder"].append(
            at1080 + bytes(max(0, min(255, s + rng.randint(-30, 30))) for s in rows))
    if shutil.which("ffmpeg"):
        with tempfile.TemporaryDirectory() as work:
            raw = "-f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25"
            with open(f"{work}/wm.bin", "wb") as f:
                f.write(rng.randbytes(300))
            subprocess.run(f"ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=1920x1080 "
                           f"-frames:v 5 {raw} {work}/src.yuv && {build}/wmstamp {work}/src.yuv "
                           f"{work}/wm.bin {work}/st.yuv >/dev/null && ffmpeg -nostdin "
                           f"-loglevel error {raw} -i {work}/st.yuv -c:v libx265 -crf 35 "
                           f"-x265-params log-level=error -f matroska - | ffmpeg -nostdin "
                           f"-loglevel error -i - -vf crop=1920:2:0:0,extractplanes=y -f rawvideo "
                           f"{work}/bands", shell=True, check=False)
            if os.path.exists(f"{work}/bands"):
                data = open(f"{work}/bands", "rb").read()
                seeds["band_decoder"] += [at1080 + data[i:i + 3840]
                                          for i in range(0, len(data), 3840)]
    # Records, then frames: in step, with a drop, a repeat and damage.
    for alphabet in (0, 1, 3):
        records = [rng.randbytes(8) for _ in range(10)]
        frames = records[:3] + records[4:6] + [records[5]] + [bytes(b ^ 1 for b in records[7])]
        seeds["alignment"].append(bytes([10, alphabet]) + b"".join(records + frames))
    # Packed records with wrong bytes and erasures.
    with tempfile.TemporaryDirectory() as work:
        for k in (20, 32, 40, 58):
            with open(f"{work}/data", "wb") as f:
                f.write(rng.randbytes(k))
            subprocess.run([f"{build}/wmpack", "--force", "--data-bytes", str(k), f"{work}/data",
                            f"{work}/packed"], check=True, stderr=subprocess.DEVNULL)
            word = bytearray(open(f"{work}/packed", "rb").read())
            for wrong in range((60 - k) // 2 + 2):
                word[rng.randrange(60)] ^= rng.randrange(1, 256)
                seeds["reed_solomon"].append(bytes([k - 20]) + bytes(word) + bytes([3, 7]))
    # Clock records as wmstamp --clock stamps them: in step, then with a
    # drop, a repeat, a swap and wrong bytes.
    with tempfile.TemporaryDirectory() as work:
        with open(f"{work}/src.yuv", "wb") as f:
            f.write(rng.randbytes(3110400 * 6))
        subprocess.run(f"{build}/wmstamp --clock {work}/src.yuv {work}/clock.yuv >/dev/null && "
                       f"{build}/wmextract {work}/clock.yuv {work}/words 2>/dev/null",
                       shell=True, check=True)
        words = open(f"{work}/words", "rb").read()
        records = [words[i:i + 60] for i in range(0, len(words), 60)]
        seeds["clock"].append(words)
        damaged = bytearray(records[5])
        for wrong in range(9):
            damaged[rng.randrange(60)] ^= rng.randrange(1, 256)
        seeds["clock"].append(b"".join(records[:2] + records[3:4] * 2 + records[2:3]) +
                              bytes(damaged))
    for line in ("--verify wm.bin stamped.yuv", "--band --fec 40 --verify ids.bin -",
                 "--report r.csv --by-position --verify wm.bin v.yuv", "stamped.yuv p.bin",
                 "--data-bytes 32 --force data.bin packed.bin", "--help", "--fec 58 - -",
                 "--clock --every 0.5 --report - -", "--clock - -",
                 "--size 1280x720 --format yuv420p10le src.yuv wm.bin out.yuv",
                 "--band --band-rows 8 --size 426x240 --verify ids.bin -",
                 "--report - --pair stamped.yuv paired.yuv --verify wm.bin decoded.yuv"):
        seeds["arguments"].append(line.replace(" ", "\0").encode())
    seeds["command_line"] = list(seeds["arguments"])
    # The header and first frame header of real streams, as ffmpeg writes them.
    if shutil.which("ffmpeg"):
        for size, fmt in (("1280x720", "yuv420p"), ("3840x2160", "yuv420p10le"),
                          ("320x180", "yuv444p"), ("320x180", "gray"), ("640x360", "yuv422p"),
                          ("426x240", "yuvj420p"), ("321x181", "yuv420p")):
            stream = subprocess.run(
                f"ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size={size}:rate=30000/1001 "
                f"-frames:v 1 -pix_fmt {fmt} -strict -1 -f yuv4mpegpipe -", shell=True,
                capture_output=True, check=False).stdout
            end = stream.find(b"\n", stream.find(b"\n") + 1)
            if end > 0:
                seeds["y4m"].append(stream[:end + 1])
    seeds["y4m"] += [b"YUV4MPEG2 W1920 H1080 C420mpeg2 XYSCSS=420MPEG2\nFRAME Ixyz\n",
                     bytes([0, 0, 0, 0x18]) + b"ftypisom" + bytes(32)]
    for name, items in seeds.items():
        os.makedirs(f"{out}/{name}", exist_ok=True)
        for i, item in enumerate(items):
            with open(f"{out}/{name}/seed{i:03d}", "wb") as f:
                f.write(item)


if __name__ == "__main__":
    sys.exit(main())
