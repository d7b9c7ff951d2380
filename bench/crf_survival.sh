#!/usr/bin/env bash
# How much H.264 compression the watermark survives: stamps a noisy 1080p
# test clip with random payloads, encodes it with libx264 at several CRFs,
# decodes it and verifies every frame. Prints a Markdown table.
#
# usage: bench/crf_survival.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
build=$(realpath "${1:-build}")
frames=${2:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -loglevel error -f lavfi \
  -i "testsrc2=size=1920x1080:rate=25,noise=alls=12:allf=t" -frames:v "$frames" \
  -f rawvideo -pix_fmt yuv420p "$work/src.yuv"
head -c $((60 * frames)) /dev/urandom > "$work/wm.bin"
"$build/wmstamp" "$work/src.yuv" "$work/wm.bin" "$work/stamped.yuv" >/dev/null

echo "$frames frames of 1920x1080 testsrc2 with temporal noise, libx264 -preset medium"
echo
echo "| CRF | size (kbit/s) | frames that differ | bit errors | smallest margin |"
echo "|---|---|---|---|---|"
for crf in 18 23 28 32 35; do
  ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 \
    -i "$work/stamped.yuv" -c:v libx264 -preset medium -crf "$crf" "$work/crf.mp4"
  kbps=$(( $(stat -c %s "$work/crf.mp4") * 8 * 25 / frames / 1000 ))
  summary=$(ffmpeg -nostdin -loglevel error -i "$work/crf.mp4" -fps_mode passthrough \
              -f rawvideo -pix_fmt yuv420p - |
            "$build/wmextract" --verify "$work/wm.bin" - 2>&1 >/dev/null | tail -n 1) || true
  # "checked N frames, D differ, B bit errors, smallest margin M"
  read -r differ bits margin < <(sed -E 's/.*, ([0-9]+) differ, ([0-9]+) bit errors, smallest margin ([0-9.]+)/\1 \2 \3/' <<<"$summary")
  echo "| $crf | $kbps | $differ of $frames | $bits | $margin |"
done
