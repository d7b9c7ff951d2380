#!/usr/bin/env bash
# The fixed-threshold decoder against wmextract's adaptive one
# (bench/decoder_compare.cpp) on bands damaged by real encoders: four
# generated sources (the fourth, a cellular
# automaton, is held out: nothing was tuned on it), heavy and light chains
# and a range conversion that shifts the levels. Prints one line a case.
#
# usage: bench/decoder_compare.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
build=$(realpath "${1:-build}")
frames=${2:-25}
cmake --build "$build" --target decoder_compare wmstamp >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/sources.sh"
chains=(
  "libx264 CRF 23|-c:v libx264 -preset medium -crf 23|"
  "libx264 CRF 35|-c:v libx264 -preset medium -crf 35|"
  "libx265 CRF 32|-c:v libx265 -preset fast -crf 32 -x265-params log-level=error|"
  "libvpx-vp9 2 Mbit/s|-c:v libvpx-vp9 -b:v 2M -deadline realtime -cpu-used 8 -row-mt 1|"
  "libsvtav1 CRF 40|-c:v libsvtav1 -preset 10 -crf 40|"
  "limited to full range, libx264 CRF 20|-c:v libx264 -preset medium -crf 20|lutyuv=y=clipval*255/219-16*255/219"
)
for s in A B C D; do
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "${sources[$s]}" -frames:v "$frames" \
    -f rawvideo -pix_fmt yuv420p "$work/src.yuv"
  head -c $((60 * frames)) /dev/urandom > "$work/wm.bin"
  "$build/wmstamp" "$work/src.yuv" "$work/wm.bin" "$work/stamped.yuv" >/dev/null
  for chain in "${chains[@]}"; do
    IFS='|' read -r name args pre <<<"$chain"
    ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 \
      -i "$work/stamped.yuv" ${pre:+-vf "$pre"} $args "$work/coded.mkv" 2>/dev/null
    ffmpeg -nostdin -loglevel error -y -i "$work/coded.mkv" -vf crop=1920:2:0:0,extractplanes=y \
      -fps_mode passthrough -f rawvideo "$work/band.gray"
    echo "$s | $name | $("$build/decoder_compare" "$work/band.gray" "$work/wm.bin")"
  done
done
