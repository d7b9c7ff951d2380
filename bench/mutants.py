#!/usr/bin/env python3
"""Makes single faults in the native code, one at a time, and reports which
the test suite catches (fails on) and which it lets through.

Works on a copy of the tree in a scratch folder, with its own Release build
reused from fault to fault; the ffmpeg chains are left out (they test the
encoders more than these lines).

usage: bench/mutants.py [--keep DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

# (file, text as it stands, the fault, what the fault is)
FAULTS = [
    ("io/stream_io.cpp", "std::fflush(pFile) == 0 && !std::ferror(pFile)",
     "std::fflush(pFile) == 0", "closeOutputStream ignores the error flag"),
    ("io/stream_io.cpp", "if (std::fclose(pFile) != 0 && ok)", "if (std::fclose(pFile) != 0 && false)",
     "closeOutputStream ignores fclose's result"),
    ("io/payload_reader.cpp", "(bytes + payloadSize - 1) / payloadSize", "bytes / payloadSize",
     "unused records miss a short last one"),
    ("io/platform_posix.cpp", "if (size > current)", "if (false)", "pipes not enlarged"),
    ("extract/main.cpp", "tally.frames % 10 == 0", "tally.frames % 5 == 0",
     "wmextract's progress interval"),
    ("extract/main.cpp", "if (!writeBlock(payloads.pFile, payload.data(), payloadSize))",
     "if (!writeBlock(payloads.pFile, payload.data(), payloadSize) && false)",
     "a payload write error ignored"),
    ("extract/main.cpp", "tally.bitErrors += bits;", "tally.bitErrors += 1;",
     "the summary's bit-error total"),
    ("extract/main.cpp", "if (margin < tally.smallestMargin)", "if (margin > tally.smallestMargin)",
     "the summary's smallest margin"),
    ("core/band_decoder.cpp", "sums[r] += row0[s] + row1[s];", "sums[r] += row0[s] + row0[s];",
     "the decoder reads row 0 twice"),
    ("core/band_decoder.cpp", "if (count[s] > 0)", "if (count[s] > 1)",
     "a level seen in one run is not placed"),
    ("io/platform_posix.cpp", "(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) && !lockWholeFile",
     "S_ISREG(st.st_mode) && !lockWholeFile", "a FIFO output is not locked"),
    ("tool/frame_run.cpp", "(void)cutFileTo(run.out.pFile, static_cast<uint64_t>(run.frameCount) * frameSize);",
     "(void)0;", "a failed run keeps its partial frame"),
    ("tool/frame_run.cpp", "if (!cutFileTo(run.out.pFile, 0))", "if (false)",
     "an old output is not emptied"),
    ("extract/main.cpp", "!namesOpenFile(name, pVideoFile) &&\n        hasContent(name)",
     "!namesOpenFile(name, pVideoFile) &&\n        false", "PAYLOADS with data replaced without --force"),
    ("io/named_files.cpp", "if (wasClosedAtStart(stdout)) {", "if (false) {",
     "a closed standard output accepted"),
]


def run(command, cwd, quiet=True):
    return subprocess.run(command, cwd=cwd, shell=True,
                          stdout=subprocess.DEVNULL if quiet else None,
                          stderr=subprocess.DEVNULL if quiet else None).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--keep", help="scratch folder to use and keep")
    args = parser.parse_args()
    source = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
    work = args.keep or tempfile.mkdtemp(prefix="wmmutants-")
    tree = os.path.join(work, "tree")
    if os.path.exists(tree):
        shutil.rmtree(tree)
    shutil.copytree(source, tree, ignore=shutil.ignore_patterns("build*", ".git", "sample"))
    if run("cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2", tree):
        sys.exit("the unchanged tree does not build")
    test = "ctest --test-dir build -j2 --timeout 120 -E 'FfmpegChain|BatchRecipe'"
    if run(test, tree):
        sys.exit("the unchanged tree fails its tests")
    caught = 0
    for path, text, fault, what in FAULTS:
        name = os.path.join(tree, path)
        original = open(name).read()
        if original.count(text) != 1:
            sys.exit(f"{path}: the text to change is not there once: {text}")
        open(name, "w").write(original.replace(text, fault))
        built = run("cmake --build build -j2", tree) == 0
        failed = not built or run(test, tree) != 0
        open(name, "w").write(original)
        caught += failed
        print(f"{'caught' if failed else 'MISSED'}: {what} ({path})", flush=True)
    print(f"{caught} of {len(FAULTS)} faults caught")
    if not args.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
