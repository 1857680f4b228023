#!/usr/bin/env bash
# The frei0r module's speed, in one run:
#  1. ffmpeg decoding a 720 x 576 H.264 clip (250 frames, yuv420p) through
#     the module (ffmpeg converts to BGRA for it and back to yuv420p) against
#     the same graph through ffmpeg's fftfilt with a comparable notch (a
#     Gaussian hole at the same frequency in the luma, chroma weight 1):
#     frames per second (wall clock) and CPU time (user + system) of both,
#     the two graphs run alternately;
#  2. the module's own cost, BGRA in and BGRA out, against Process on BGR24
#     (bench_frei0r's interleaved run, the plug-in benchmark stream's
#     filters).
# Each round prints the load (uptime) beside its figures.
#   bash bench/frei0r/run_frei0r_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=$(cd "${1:-build/native}" && pwd) rounds=${2:-3}
export FREI0R_PATH=$build/frei0r
[ -f "$FREI0R_PATH/qrx_freqfilter.so" ] || { echo "no $FREI0R_PATH/qrx_freqfilter.so: build the native preset"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

frames=250
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=720x576:rate=25" -frames:v $frames \
  -c:v libx264 -preset fast -pix_fmt yuv420p "$work/clip.mp4"

# One Dot at 2301 kHz (120 cycles across the line). In fftfilt's packed
# 1024-point row transform that frequency is at X = 2 * 120 * 1024 / 720 = 342;
# the hole's width is close to the Dot's. Both remove the grating by more
# than 20 dB (measured with tests/frei0r's clip tool).
dot='En\:1/Fx\:2301/Fy\:0/Wx\:300/Wy\:300/O\:3/S\:-60/T\:0//'
module_graph="frei0r=qrx_freqfilter:'||$dot',format=yuv420p"
fftfilt_graph="fftfilt=weight_Y='1-exp(-(pow(X-342,2)+pow(Y,2))/50)':weight_U=1:weight_V=1,format=yuv420p"

load() { uptime | sed -E 's/.*load average: ([0-9.]+).*/\1/'; }
# Prints "wall_s cpu_s" of one ffmpeg run of the graph.
run_graph() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" \
    ffmpeg -nostdin -v error -i "$work/clip.mp4" -vf "$1" -f null - || return 1
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}

echo "ffmpeg $(ffmpeg -version | head -n 1 | cut -d' ' -f3), $frames frames of 720 x 576, $(nproc) cores"
printf '%-6s %-8s %6s %8s %8s %8s\n' round graph load fps cpu_s cpu_ms/f
for r in $(seq "$rounds"); do
  l1=$(load); read -r w1 c1 < <(run_graph "$module_graph")
  l2=$(load); read -r w2 c2 < <(run_graph "$fftfilt_graph")
  awk -v r="$r" -v f=$frames -v l1="$l1" -v w1="$w1" -v c1="$c1" -v l2="$l2" -v w2="$w2" -v c2="$c2" 'BEGIN {
    printf "%-6s %-8s %6s %8.1f %8.2f %8.2f\n", r, "module", l1, f / w1, c1, 1000 * c1 / f
    printf "%-6s %-8s %6s %8.1f %8.2f %8.2f\n", r, "fftfilt", l2, f / w2, c2, 1000 * c2 / f
    printf "%-6s module/fftfilt: %.2f x the frame rate, %.2f x the CPU time\n", r, w2 / w1, c1 / c2
  }'
done

echo
echo "module (BGRA in, BGRA out) against Process (BGR24), 720 x 576, wall clock per frame, in turn:"
for r in $(seq "$rounds"); do
  l=$(load)
  "$build/bench/frei0r/bench_frei0r" --benchmark_filter='BM_Interleaved' --benchmark_min_time=3 \
    --benchmark_format=json 2>/dev/null >"$work/bench.json"
  python3 - "$work/bench.json" "$r" "$l" <<'PY'
import json, sys
b = json.load(open(sys.argv[1]))["benchmarks"][0]
print(f"{sys.argv[2]:<6} load {sys.argv[3]:>5}: Process BGR24 {b['process_ms']:.2f} ms, "
      f"module BGRA {b['module_ms']:.2f} ms, module/Process {b['ratio']:.2f}")
PY
done
