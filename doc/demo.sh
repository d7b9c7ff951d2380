#!/usr/bin/env bash
# Builds the programs, makes a short sample clip and a payload file under
# sample/, stamps the clip, reads every payload back, and shows the band.
# With ffmpeg the clip is a moving test pattern and the band is drawn as a
# magnified PNG of the top of frame 0; without it the clip is random bytes
# and the band is printed as numbers.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target wmstamp wmextract -j2 >/dev/null

mkdir -p sample
frames=20
head -c $((60 * frames)) /dev/urandom > sample/wm.bin
if command -v ffmpeg >/dev/null; then
  ffmpeg -nostdin -loglevel error -y -f lavfi \
    -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
    -f rawvideo -pix_fmt yuv420p sample/clip.yuv
else
  head -c $((3110400 * frames)) /dev/urandom > sample/clip.yuv
fi

build/wmstamp sample/clip.yuv sample/wm.bin sample/stamped.yuv
echo
build/wmextract --whole --verify sample/wm.bin sample/stamped.yuv
echo "Output: $(pwd)/sample/stamped.yuv ($(stat -c %s sample/stamped.yuv) bytes, $frames frames)"

if command -v ffmpeg >/dev/null; then
  # The top 8 rows of the left 128 samples of frame 0, sixteen times larger
  # with nearest-neighbour scaling: the band's runs of 8 samples (four
  # payload bytes, one grey level a run) over the picture below it.
  ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 \
    -i sample/stamped.yuv -frames:v 1 \
    -vf "crop=128:8:0:0,scale=2048:128:flags=neighbor" -update 1 sample/band.png
  echo "Picture of the band: $(pwd)/sample/band.png"
else
  echo "First payload record (sample/wm.bin, bytes 0-3):"
  od -An -tx1 -N4 sample/wm.bin
  echo "Luma row 0 of output frame 0 (samples 0-127, four symbols a byte, 8 samples each):"
  od -An -tu1 -w32 -N128 sample/stamped.yuv
fi
