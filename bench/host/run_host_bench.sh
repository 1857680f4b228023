#!/usr/bin/env bash
# qrx_host end to end against ffmpeg's fftfilt, file to file, in one run:
# 300 raw YUY2 frames of 720 x 576 (ffmpeg's testsrc2 with noise) through
#  - qrx_host with the plug-in benchmark stream's four filters (a Dot, a
#    Win 1D band, a Win 2D ring and an adaptive clip; FFTLine 512), and
#  - ffmpeg reading the same raw file and filtering it with fftfilt, a
#    Gaussian notch at the Dot's frequency (as bench/frei0r has it): on the
#    luma alone (format=gray, written as raw gray: the least ffmpeg can do
#    for the same luma) and on all three planes (yuv422p and back to raw
#    YUY2, the whole frame as the host writes it),
# run in turn, each round with the load (uptime) beside it. Wall time, CPU
# time (user + system) and the ratios; the target is qrx_host at least 3x
# faster in wall time than the luma-alone graph. The host's wall time
# includes its wait for the channel's mask before the first frame leaves.
#   bash bench/host/run_host_bench.sh [BUILD_DIR] [ROUNDS] [HOST]
# HOST: another qrx_host binary to time (its module beside it), for a
# before-and-after comparison.
set -euo pipefail
build=$(cd "${1:-build/native}" && pwd) rounds=${2:-3}
host=${3:-$build/tools/host/qrx_host}
[ -x "$host" ] || { echo "no $host: build the native preset"; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not installed"; exit 1; }
# The frames live in memory where there is a memory file system: the disk's
# write-back of one round's 750 MB would otherwise slow the next rounds'
# writers, whichever program it is.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then work=$(mktemp -d -p /dev/shm); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT

frames=300
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=12:allf=t" -frames:v $frames \
  -f rawvideo -pix_fmt yuyv422 "$work/in.yuy2"
cat >"$work/bench.ini" <<'INI'
[GLOBAL]
FFTLine=512
[1]
ProcEnable=1
Filter=En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//En:1/Fx:3500/Fy:0/Wx:200/Wy:0/O:2/S:-40/T:1//En:1/Fx:4000/Fy:3000/Wx:300/Wy:300/O:2/S:-30/T:2//En:1/Fx:1151/Fy:-2876/Wx:300/Wy:300/O:2/S:0/T:0//
INI
# The Dot at 2301 kHz is 120 cycles across the line: X = 2 * 120 * 1024 / 720
# = 342 in fftfilt's packed 1024-point row transform.
notch="weight_Y='1-exp(-(pow(X-342,2)+pow(Y,2))/50)'"
luma_graph="format=gray,fftfilt=$notch"
planes_graph="fftfilt=$notch:weight_U=1:weight_V=1,format=yuyv422"

load() { uptime | sed -E 's/.*load average: ([0-9.]+).*/\1/'; }
# Prints "wall_s cpu_s" of one command.
timed() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1 || return 1
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}

echo "qrx_host $host"
echo "ffmpeg $(ffmpeg -version | head -n 1 | cut -d' ' -f3), $frames frames of 720 x 576 YUY2, $(nproc) cores"
printf '%-6s %-14s %6s %8s %8s %8s\n' round command load wall_s cpu_s fps
ffmpeg_run() {  # graph output
  timed ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuyv422 -s 720x576 -r 25 -i "$work/in.yuy2" -vf "$1" \
    -f rawvideo "$2"
}
ratios=()
for r in $(seq "$rounds"); do
  l1=$(load)
  read -r w1 c1 < <(timed "$host" --width 720 --height 576 --format yuy2 --settings "$work/bench.ini" \
    "$work/in.yuy2" "$work/out_host.yuy2")
  l2=$(load)
  read -r w2 c2 < <(ffmpeg_run "$luma_graph" "$work/out_luma.gray")
  l3=$(load)
  read -r w3 c3 < <(ffmpeg_run "$planes_graph" "$work/out_planes.yuy2")
  awk -v r="$r" -v f=$frames -v l1="$l1" -v w1="$w1" -v c1="$c1" -v l2="$l2" -v w2="$w2" -v c2="$c2" \
    -v l3="$l3" -v w3="$w3" -v c3="$c3" 'BEGIN {
    printf "%-6s %-14s %6s %8.2f %8.2f %8.1f\n", r, "qrx_host", l1, w1, c1, f / w1
    printf "%-6s %-14s %6s %8.2f %8.2f %8.1f\n", r, "fftfilt luma", l2, w2, c2, f / w2
    printf "%-6s %-14s %6s %8.2f %8.2f %8.1f\n", r, "fftfilt planes", l3, w3, c3, f / w3
    printf "%-6s qrx_host: %.2fx faster in wall time than fftfilt on the luma (target >= 3), %.2fx its CPU time;", r, w2 / w1, c1 / c2
    printf " %.2fx faster than fftfilt on all planes\n", w3 / w1
  }'
  ratios+=("$(awk -v a="$w2" -v b="$w1" 'BEGIN { printf "%.2f", a / b }')")
done
echo "qrx_host against fftfilt on the luma, wall time, every round: ${ratios[*]}; median $(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')x (target >= 3)"
