#!/usr/bin/env python3
"""The benchmarks' patterns read the programs' real summary lines, counts of
one (singular) and of many alike.

usage: bench_summary_test.py WMEXTRACT"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from summary import EXTRACTED, clocked, verified  # noqa: E402

LEVELS = (16, 89, 162, 235)


def band(payload):
    """The two band rows of a 1920-wide frame carrying `payload`."""
    row = bytes(LEVELS[(b >> (6 - 2 * k)) & 3] for b in payload for k in range(4) for _ in range(8))
    return row + row


def run(extract, frames, data=None):
    """wmextract's standard error on band-only `frames`: verified against
    `data`, or extracted where there is none."""
    with tempfile.TemporaryDirectory() as work:
        wm, video = os.path.join(work, "wm.bin"), os.path.join(work, "band.gray")
        with open(video, "wb") as f:
            f.write(b"".join(band(p) for p in frames))
        if data is None:
            command = [extract, "--band", video, os.path.join(work, "p.bin")]
        else:
            with open(wm, "wb") as f:
                f.write(data)
            command = [extract, "--band", "--verify", wm, video]
        return subprocess.run(command, capture_output=True, text=True).stderr


def main():
    extract = sys.argv[1]
    record = bytes(range(60))
    one_bit = bytes([record[0] ^ 1]) + record[1:]
    # One frame, one bit error: every count is singular.
    err = run(extract, [one_bit], record)
    assert verified(err) == (1, 1, 1, 36.5), err
    # Two frames, one exact: plural frames, a singular error.
    second = bytes(reversed(record))
    err = run(extract, [one_bit, second], record + second)
    assert verified(err) == (2, 1, 1, 36.5), err
    for frames in ([record], [record, second]):
        err = run(extract, frames)
        found = EXTRACTED.search(err)
        assert found and found.groups() == (str(len(frames)), "36.50"), err
    # The clock form: one frame of one run, then two runs (a restart).
    stamp = os.path.join(os.path.dirname(extract), "wmstamp")
    with tempfile.TemporaryDirectory() as work:
        src = os.path.join(work, "src.yuv")
        with open(src, "wb") as f:
            f.write(bytes(3110400))
        runs = []
        for name in ("a.yuv", "b.yuv"):
            subprocess.run([stamp, "--clock", src, os.path.join(work, name)], check=True,
                           stdout=subprocess.DEVNULL)
            runs.append(open(os.path.join(work, name), "rb").read())
        video = os.path.join(work, "v.yuv")
        for frames, restarts in ((runs[:1], 0), (runs, 1)):
            with open(video, "wb") as f:
                f.write(b"".join(frames))
            err = subprocess.run([extract, "--clock", video], capture_output=True,
                                 text=True).stderr
            got = clocked(err)
            assert got and got["frames"] == len(frames) and got["restarts"] == restarts, err
            assert got["missing"] == got["repeated"] == got["uncorrectable"] == 0, err
            assert 0 < got["min"] <= got["median"] <= got["p95"] <= got["max"], err
        # No record read: the latencies are "-".
        err = subprocess.run([extract, "--clock", src], capture_output=True, text=True).stderr
        got = clocked(err)
        assert got and got["uncorrectable"] == 1 and got["median"] is None, err
    print("ok")


if __name__ == "__main__":
    main()
