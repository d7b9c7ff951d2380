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


def verified(text):
    """(frames, differ, bit errors, margin) of the last summary line in `text`, or None."""
    found = VERIFIED.findall(text)
    if not found:
        return None
    frames, differ, bits, margin = found[-1]
    return int(frames), int(differ), int(bits), float(margin)


def payload_source(seed):
    """Random payload bytes that a given seed repeats, so that a failure can be run again."""
    rng = random.Random(seed)
    return lambda count: rng.randbytes(count)
