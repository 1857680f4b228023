#!/usr/bin/env bash
# The README's ffmpeg pipeline, run for real: a short moving clip with
# interference is encoded, its filters are found with --suggest, the
# README's three-command pipeline runs exactly as written there (only the
# host's path put in), the result is decoded, and every output frame, the
# first included, must have the interference removed; then the same for
# the one-pass --auto pipeline.
#   readme_pipeline_test.sh QRX_HOST QRX_EVALUATE README.md
set -euo pipefail
host=$1 evaluate=$2 readme=$3

if ! command -v ffmpeg >/dev/null; then
  echo "ffmpeg is not installed (scripts/setup.sh installs it)"
  if [ -n "${CI:-}" ]; then exit 1; fi
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

frames=10
# Two patterns: horizontal bars and a diagonal, off the spectrum's bins.
gratings=(0,97.3,10,0.4 61.7,-52.3,8,1.9)
raw=(-f rawvideo -pix_fmt yuyv422 -s 720x576 -r 25)

# A moving test picture, the same with interference, both encoded without
# loss so that the clean reference and the input agree exactly.
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=720x576:rate=25" -frames:v $frames \
  -f rawvideo -pix_fmt yuyv422 clean.yuv
"$evaluate" make clean.yuv noisy.yuv --frames $frames "${gratings[@]}"
ffmpeg -nostdin -v error "${raw[@]}" -i noisy.yuv -c:v libx264 -qp 0 -pix_fmt yuv422p in.mp4
ffmpeg -nostdin -v error -i in.mp4 -f rawvideo -pix_fmt yuyv422 input.yuv
cmp -s input.yuv noisy.yuv || { echo "the lossless clip does not decode to its frames"; exit 1; }

"$host" --suggest --write-settings my.ini noisy.yuv >/dev/null

# The pipeline as the README has it, between its "Use it on your own video"
# heading and the next paragraph.
pipeline=$(awk '/^## Use it on your own video/ { on = 1; next }
                on && /^    / { sub(/^    /, ""); print; seen = 1; next }
                on && seen { exit }' "$readme")
case $pipeline in
  *"ffmpeg -i in.mp4"*"qrx_host"*"--settings my.ini"*"out.mp4"*) ;;
  *) echo "no pipeline found in $readme:"; echo "$pipeline"; exit 1 ;;
esac
pipeline=${pipeline//build\/native\/tools\/host\/qrx_host/$host}
echo "$pipeline"
bash -c "set -o pipefail; $pipeline" </dev/null 2>pipeline.log || { cat pipeline.log; exit 1; }

ffmpeg -nostdin -v error -i out.mp4 -f rawvideo -pix_fmt yuyv422 output.yuv
count=$(( $(stat -c %s output.yuv) / (720 * 576 * 2) ))
[ "$count" -eq $frames ] || { echo "$count frames out of $frames"; exit 1; }
"$evaluate" measure clean.yuv noisy.yuv output.yuv --min-removed 20 "${gratings[@]}"

# The README's one-pass pipeline with --auto: no settings file, every frame
# (the first included) filtered by what the finder found in the stream.
auto_pipeline=$(awk '/^`--auto` finds and filters/ { on = 1; next }
                     on && /^    / { sub(/^    /, ""); print; seen = 1; next }
                     on && seen { exit }' "$readme")
case $auto_pipeline in
  *"ffmpeg -i in.mp4"*"qrx_host --auto"*"auto.mp4"*) ;;
  *) echo "no --auto pipeline found in $readme:"; echo "$auto_pipeline"; exit 1 ;;
esac
auto_pipeline=${auto_pipeline//build\/native\/tools\/host\/qrx_host/$host}
echo "$auto_pipeline"
bash -c "set -o pipefail; $auto_pipeline" </dev/null 2>auto.log || { cat auto.log; exit 1; }
grep -q "^qrx_host: frame 0: [1-9][0-9]* filters" auto.log || { echo "the first list does not apply from frame 0:"; cat auto.log; exit 1; }
ffmpeg -nostdin -v error -i auto.mp4 -f rawvideo -pix_fmt yuyv422 auto.yuv
count=$(( $(stat -c %s auto.yuv) / (720 * 576 * 2) ))
[ "$count" -eq $frames ] || { echo "--auto: $count frames out of $frames"; exit 1; }
"$evaluate" measure clean.yuv noisy.yuv auto.yuv --min-removed 20 "${gratings[@]}"
