"""The programs' summary lines, as a script reads them.

Counts of one are singular ("1 frame", "1 bit error"), so every pattern
takes both forms; one module holds them, so no benchmark can drift from the
programs' words.
"""
import random
import re

# checked 50 frames, 2 differ, 2 bit errors, smallest margin 0.50[; ...]
VERIFIED = re.compile(r"^checked (\d+) frames?, (\d+) differ, (\d+) bit errors?, "
                      r"smallest margin ([0-9.]+)", re.MULTILINE)
# extracted 50 payloads, smallest margin 36.50[; ...]
EXTRACTED = re.compile(r"^extracted (\d+) payloads?, smallest margin ([0-9.]+)", re.MULTILINE)
# ...; 14 corrected, 1 uncorrectable
CODE = re.compile(r"; (\d+) corrected, (\d+) uncorrectable")
# checked 50 frames, 1 missing, 0 repeated, 0 uncorrectable; latency ms min 0.64,
# median 0.76, p95 1.42, max 1.98; 0 out of order, 1 restart, 0 corrected
# (the latencies "-" where no record was read)
CLOCKED = re.compile(r"^checked (\d+) frames?, (\d+) missing, (\d+) repeated, (\d+) uncorrectable; "
                     r"latency ms min ([-0-9.]+|-), median ([-0-9.]+|-), p95 ([-0-9.]+|-), "
                     r"max ([-0-9.]+|-); (\d+) out of order, (\d+) restarts?, (\d+) corrected$",
                     re.MULTILINE)


def verified(text):
    """(frames, differ, bit errors, margin) of the last summary line in `text`, or None."""
    found = VERIFIED.findall(text)
    if not found:
        return None
    frames, differ, bits, margin = found[-1]
    return int(frames), int(differ), int(bits), float(margin)


def clocked(text):
    """The last clock summary line in `text` as a dict, or None; latencies in
    ms (None where the line has "-")."""
    found = CLOCKED.findall(text)
    if not found:
        return None
    g = found[-1]
    number = lambda v: None if v == "-" else float(v)
    return {"frames": int(g[0]), "missing": int(g[1]), "repeated": int(g[2]),
            "uncorrectable": int(g[3]), "min": number(g[4]), "median": number(g[5]),
            "p95": number(g[6]), "max": number(g[7]), "out_of_order": int(g[8]),
            "restarts": int(g[9]), "corrected": int(g[10])}


def payload_source(seed):
    """Random payload bytes that a given seed repeats, so that a failure can be run again."""
    rng = random.Random(seed)
    return lambda count: rng.randbytes(count)
