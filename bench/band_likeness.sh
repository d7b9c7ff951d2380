#!/usr/bin/env bash
# Which frames wmextract says carry no band: stamped sources through heavy
# encoders and unencoded, against the same sources never stamped (a black
# letterbox bar among them). Prints, per set, the frames that look like a
# band of those read.
#
# usage: bench/band_likeness.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
build=${1:-build}
frames=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
raw=(-f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25)
band=(-vf crop=1920:2:0:0,extractplanes=y -f rawvideo)
source "$(dirname "$0")/sources.sh"
encoders=(
  "x265 CRF 35|-c:v libx265 -preset fast -crf 35 -x265-params log-level=error"
  "SVT-AV1 CRF 50|-c:v libsvtav1 -preset 10 -crf 50"
  "VP9 1 Mbit/s|-c:v libvpx-vp9 -b:v 1M -deadline realtime -cpu-used 8"
  "x264 CRF 38|-c:v libx264 -crf 38"
)
# Frames that look like a band, of those in a band file.
looks() {
  local total no
  total=$(( $(stat -c %s "$1") / 3840 ))
  no=$("$build/wmextract" --band --force "$1" "$work/p.bin" 2>&1 | grep -c ': no band$' || true)
  echo "$(( total - no )) of $total"
}
head -c $((60 * frames)) /dev/urandom > "$work/wm.bin"
for s in $(printf '%s\n' "${!sources[@]}" | sort); do
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "${sources[$s]}" -frames:v "$frames" \
    "${raw[@]}" "$work/src.yuv"
  "$build/wmstamp" "$work/src.yuv" "$work/wm.bin" "$work/st.yuv" >/dev/null
  ffmpeg -nostdin -loglevel error -y "${raw[@]}" -i "$work/src.yuv" "${band[@]}" "$work/un.gray"
  ffmpeg -nostdin -loglevel error -y "${raw[@]}" -i "$work/st.yuv" "${band[@]}" "$work/st.gray"
  echo "$s | unstamped | $(looks "$work/un.gray")"
  echo "$s | stamped | $(looks "$work/st.gray")"
  case $s in A|B|C|D)
    for e in "${encoders[@]}"; do
      ffmpeg -nostdin -loglevel error -y "${raw[@]}" -i "$work/st.yuv" ${e#*|} "$work/c.mkv" \
        2>/dev/null
      ffmpeg -nostdin -loglevel error -y -i "$work/c.mkv" -fps_mode passthrough "${band[@]}" \
        "$work/c.gray"
      echo "$s | stamped, ${e%%|*} | $(looks "$work/c.gray")"
    done;;
  esac
done
