#!/usr/bin/env bash
# Builds wmstamp, makes a short synthetic clip and a payload file, stamps the
# clip and shows the band at the top of the first output frame.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target wmstamp -j2 >/dev/null

mkdir -p sample
frames=20
head -c $((3110400 * frames)) /dev/urandom > sample/clip.yuv
head -c $((60 * frames)) /dev/urandom > sample/wm.bin

build/wmstamp sample/clip.yuv sample/wm.bin sample/stamped.yuv

echo
echo "First payload record (sample/wm.bin, bytes 0-3):"
od -An -tx1 -N4 sample/wm.bin
echo "Luma row 0 of output frame 0 (samples 0-127, four symbols a byte, 8 samples each):"
od -An -tu1 -w32 -N128 sample/stamped.yuv
echo "Output: $(pwd)/sample/stamped.yuv ($(stat -c %s sample/stamped.yuv) bytes, $frames frames)"
