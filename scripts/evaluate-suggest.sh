#!/usr/bin/env bash
# What qrx_host --suggest finds, and what its filters remove, on real
# photographs (Debian's mate-backgrounds, GPL-2+) scaled and cropped to
# 720 x 576 luma, with sinusoidal gratings of known frequencies added:
# vertical stripes, horizontal bars, diagonals both ways, mixes of two and
# three, amplitudes 4 to 20 levels; and the clean photographs themselves.
# Per case: the suggestion is made from the interfered picture, written to a
# settings file, and the picture is filtered through the plug-in with it.
#
# Columns: removed = interference removed at each grating's frequency, the
# luma of (output - clean) against (input - clean), in dB (worst grating);
# PSNR of the output against the clean picture (the input's in brackets);
# ceiling = the grating's amplitude against the clean picture's own content
# at the grating's frequency, in dB: a filter that takes the grating takes
# that content too, and the measure counts it as interference left, so no
# filter shows much more removed than this.
# Targets: every single grating at least 20 dB removed (or, where the
# ceiling is below 20 dB, as much as the ceiling less 3 dB) with PSNR at
# least 38 dB; every clean picture: no filter, and the output bit-identical
# to the input.
#
# Then the harder cases, on four detailed photographs: one slanted grating
# a third of a bin off both ways (one frame); a grating drifting in phase
# over 8 frames; a grating under noise of sigma 3; a weak grating (3.5
# levels) beside a strong one; and, with qrx_host --auto, interference that
# appears after a second, moves 100 kHz over 5 s and disappears, and static
# interference over 4 s. Targets: at least 20 dB removed (the weak grating
# included) with PSNR at least 38 dB (36 dB under noise), worst frame; a
# case is "limited by the picture" where a 150 kHz order-3 -60 dB Dot on the
# true frequency also misses the PSNR, and must then keep at least that
# Dot's PSNR. Live cases: frames until the list follows each change (at
# most 25, a second), the removal on every frame from a second after the
# interference appeared, and the list changes on static interference after
# the first (0).
# Exits non-zero when a target is missed.
#   bash scripts/evaluate-suggest.sh [--quick] [--fft-line N] [--keep]
#     --quick      three photographs (CI)
#     --fft-line   the settings' FFT line for suggesting and filtering (512)
#     --keep       keep the work files in out/evaluate/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

quick=0
fft_line=512
keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --fft-line) fft_line=$2; shift ;;
    --keep) keep=1 ;;
    *) echo "usage: $0 [--quick] [--fft-line N] [--keep]" >&2; exit 2 ;;
  esac
  shift
done

bash scripts/setup.sh evaluate
if [ -z "${QRX_BUILD_DIR:-}" ]; then
  cmake --preset native >/dev/null
  cmake --build build/native -j "$(nproc)" --target qrx_host qrx_evaluate >/dev/null
fi
build=${QRX_BUILD_DIR:-build/native}
host=${QRX_HOST:-"$root/$build/tools/host/qrx_host"}
evaluate="$root/$build/tools/host/qrx_evaluate"

photos=/usr/share/backgrounds/mate/nature
names=(Aqua Blinds Dune FreshFlower Garden GreenMeadow LadyBird RainDrops Storm TwoWings Wood YellowFlower)
[ $quick -eq 1 ] && names=(Blinds GreenMeadow Wood)

work="$root/out/evaluate"
rm -rf "$work"
mkdir -p "$work"
printf '[GLOBAL]\r\nFFTLine=%d\r\n' "$fft_line" >"$work/base.ini"

# The gratings of photograph i: "kind|cx,cy,amplitude,phase ...", cx in cycles
# across the picture, cy down it. Frequencies and amplitudes move with i so
# that the set covers the band from 30 cycles up (about 575 kHz across,
# 770 kHz down); none sits on an exact spectrum bin. Below that band the
# photographs' own content is as strong as the interference ("low band",
# reported without a target).
cases_for() {
  awk -v i="$1" 'BEGIN {
    a[0] = 4; a[1] = 8; a[2] = 12; a[3] = 16; a[4] = 20
    amp = a[i % 5]; amp2 = a[(i + 2) % 5]; amp3 = a[(i + 4) % 5]
    printf "vertical|%.1f,0,%d,%.1f\n", 31.7 + 16.6 * i, amp, 0.3 + i
    printf "horizontal|0,%.1f,%d,%.1f\n", 30.4 + 12.5 * i, amp2, 1.1 + i
    printf "diagonal|%.1f,%.1f,%d,%.1f\n", 41.5 + 13.2 * i, 30.8 + 9.7 * i, amp3, 2.0 + i
    printf "diagonal|%.1f,%.1f,%d,%.1f\n", 150.2 - 8.9 * i, -(31.3 + 11.1 * i), a[(i + 1) % 5], 0.7 + i
    if (i % 2 == 0)
      printf "mix of 2|%.1f,0,%d,0.5 %.1f,%.1f,%d,1.5\n", 180.4 - 11.1 * i, amp2, 60.3 + 7.7 * i, -(70.6 - 3.3 * i), amp
    else
      printf "mix of 3|0,%.1f,%d,0.2 %.1f,%.1f,%d,1.2 %.1f,0,%d,2.2\n", 100.5 - 6.1 * i, amp3, 33.3 + 12.9 * i, 48.2 + 5.5 * i, amp, 205.7 - 9.4 * i, amp2
    if (i % 2 == 0)
      printf "low band|%.1f,0,%d,0.9\n", 12.0 + 1.5 * i, a[(i + 3) % 5]
    else
      printf "low band|0,%.1f,%d,0.9\n", 12.0 + 1.4 * i, a[(i + 3) % 5]
  }'
}

fails=0
printf '%-12s %-10s %-34s %7s %8s %8s %8s %8s\n' picture kind "gratings (cx,cy,amp)" filters removed ceiling PSNR "(input)"
run_case() {  # name kind clean input gratings...
  local name=$1 kind=$2 clean=$3 input=$4
  shift 4
  local settings="$work/$name.$RANDOM.ini" output="$work/out.yuv"
  local filter
  filter=$("$host" --suggest --settings "$work/base.ini" --write-settings "$settings" "$input" 2>>"$work/suggest.log")
  local count
  count=$(printf '%s' "$filter" | awk -F'//' '{ print NF - 1 }')
  "$host" --settings "$settings" "$input" "$output"
  local line
  line=$("$evaluate" measure "$clean" "$input" "$output" "$@")
  local removed psnr psnr_in ceiling verdict="ok"
  removed=$(echo "$line" | sed -E 's/.*removed ?(.*) psnr.*/\1/' | tr ' ' '\n' | sort -g | head -n 1)
  psnr=$(echo "$line" | sed -E 's/.*psnr ([0-9.]+).*/\1/')
  psnr_in=$(echo "$line" | sed -E 's/.*input ([0-9.]+).*/\1/')
  ceiling=$(echo "$line" | sed -E 's/.*ceiling ([0-9.-]+).*/\1/')
  if [ "$kind" = clean ]; then
    removed="-" ceiling="-" psnr_in="-"
    if [ "$count" -ne 0 ]; then verdict="MISSED (a filter)"
    elif ! cmp -s "$input" "$output"; then verdict="MISSED (output changed)"; fi
  elif [ $# -eq 1 ] && [ "$kind" != "low band" ]; then
    awk -v r="$removed" -v p="$psnr" -v c="$ceiling" \
      'BEGIN { need = c < 20 ? c - 3 : 20; exit !(r >= need && p >= 38) }' || verdict="MISSED"
    if [ "$verdict" = ok ] && awk -v c="$ceiling" 'BEGIN { exit !(c < 20) }'; then
      verdict="ok (limited by the picture)"
    fi
  else
    verdict=""
  fi
  [ "${verdict#MISSED}" != "$verdict" ] && fails=$((fails + 1))
  printf '%-12s %-10s %-34s %7s %8s %8s %8s %8s %s\n' "$name" "$kind" "$(echo "$@" | sed -E 's/,[0-9.]+( |$)/\1/g')" \
    "$count" "$removed" "$ceiling" "$psnr" "($psnr_in)" "$verdict"
  if [ $keep -eq 0 ]; then rm -f "$settings"; fi
}

i=0
for name in "${names[@]}"; do
  clean="$work/$name.yuv"
  ffmpeg -v error -y -i "$photos/$name.jpg" \
    -vf "scale=720:576:force_original_aspect_ratio=increase:flags=lanczos,crop=720:576,format=gray" \
    -f rawvideo -pix_fmt yuyv422 "$clean"
  run_case "$name" clean "$clean" "$clean"
  while IFS='|' read -r kind gratings; do
    # shellcheck disable=SC2086
    "$evaluate" make "$clean" "$work/input.yuv" $gratings
    # shellcheck disable=SC2086
    run_case "$name" "$kind" "$clean" "$work/input.yuv" $gratings
  done < <(cases_for "$i")
  i=$((i + 1))
done

# ---------------------------------------------------------------- harder cases
kpb=$(awk 'BEGIN { printf "%.6f", 13500 / 704 }')        # kHz per horizontal bin (cycles per line)
kpc=$(awk 'BEGIN { printf "%.6f", 14727 / 576 }')        # kHz per cycle down a 576-line picture
summary() {  # measure output -> "worst-removed min-psnr min-psnr-in"
  awk '{ for (i = 1; i <= NF; ++i) if ($i == "removed") { for (j = i + 1; j <= NF && $j != "psnr"; ++j) if ($j != "-" && (w == "" || $j + 0 < w)) w = $j + 0 }
         for (i = 1; i <= NF; ++i) { if ($i == "psnr" && (p == "" || $(i+1) + 0 < p)) p = $(i+1) + 0; if ($i == "input" && (q == "" || $(i+1) + 0 < q)) q = $(i+1) + 0 } }
       END { printf "%s %s %s\n", (w == "" ? "-" : w), p, q }'
}
# name kind frames shift noise psnr-target timing-args... -- gratings...
run_hard() {
  local name=$1 kind=$2 frames=$3 shift_px=$4 noise=$5 target=$6
  shift 6
  local timing=()
  while [ "$1" != -- ]; do timing+=("$1"); shift; done
  shift
  local clean="$work/$name.yuv" seq="$work/clean_seq.yuv" input="$work/input.yuv" output="$work/out.yuv"
  "$evaluate" make "$clean" "$seq" --frames "$frames" --shift "$shift_px"
  "$evaluate" make "$clean" "$input" --frames "$frames" --shift "$shift_px" --noise "$noise" "${timing[@]}" "$@"
  local settings="$work/$name.hard.ini" filter count
  filter=$("$host" --suggest --settings "$work/base.ini" --write-settings "$settings" "$input" 2>>"$work/suggest.log")
  count=$(printf '%s' "$filter" | awk -F'//' '{ print NF - 1 }')
  "$host" --settings "$settings" "$input" "$output"
  local got removed psnr psnr_in
  got=$("$evaluate" measure "$seq" "$input" "$output" "${timing[@]}" "$@" | summary)
  read -r removed psnr psnr_in <<<"$got"
  # The reference: a 150 kHz order-3 -60 dB Dot on each true frequency.
  local ref="" g cx cy
  for g in "$@"; do
    cx=${g%%,*}; cy=$(echo "$g" | cut -d, -f2)
    ref+=$(awk -v cx="$cx" -v cy="$cy" -v k="$kpb" -v c="$kpc" 'BEGIN { printf "En:1/Fx:%d/Fy:%d/Wx:150/Wy:150/O:3/S:-60/T:0//", cx * k + 0.5, -cy * c + (cy > 0 ? -0.5 : 0.5) }')
  done
  printf '[GLOBAL]\r\nFFTLine=%d\r\n[1]\r\nProcEnable=1\r\nFilter=%s\r\n' "$fft_line" "$ref" >"$work/ref.ini"
  "$host" --settings "$work/ref.ini" "$input" "$work/ref.yuv"
  local ref_removed ref_psnr
  read -r ref_removed ref_psnr _ <<<"$("$evaluate" measure "$seq" "$input" "$work/ref.yuv" "${timing[@]}" "$@" | summary)"
  local verdict
  verdict=$(awk -v r="$removed" -v p="$psnr" -v t="$target" -v rp="$ref_psnr" 'BEGIN {
    if (r < 20) { print "MISSED (removed)"; exit }
    if (p >= t) { print "ok"; exit }
    if (rp < t && p >= rp - 0.05) { print "ok (limited by the picture)"; exit }
    print "MISSED (PSNR)" }')
  [ "${verdict#MISSED}" != "$verdict" ] && fails=$((fails + 1))
  printf '%-12s %-12s %-40s %7s %8s %8s %8s %8s  ref %5s dB %6s %s\n' "$name" "$kind" "$(echo "$@" | sed -E 's/,[0-9.]+( |$)/\1/g')" \
    "$count" "$removed" "$target" "$psnr" "($psnr_in)" "$ref_removed" "$ref_psnr" "$verdict"
}

# The live cases through qrx_host --auto: the log's changes, the removal and
# PSNR per frame. name kind frames appear move-from move-to vanish cycles-moved grating
run_live() {
  local name=$1 kind=$2 frames=$3 appear=$4 move_from=$5 move_to=$6 vanish=$7 moved=$8 grating=$9
  local clean="$work/$name.yuv" seq="$work/clean_seq.yuv" input="$work/input.yuv" output="$work/out.yuv"
  local timing=(--appear "$appear" --vanish "$vanish" --move "$moved:$move_from:$move_to" --drift 0.3)
  "$evaluate" make "$clean" "$seq" --frames "$frames" --shift 4
  "$evaluate" make "$clean" "$input" --frames "$frames" --shift 4 "${timing[@]}" "$grating"
  "$host" --auto "$input" "$output" 2>"$work/auto.log"
  local got removed psnr
  got=$("$evaluate" measure "$seq" "$input" "$output" --from $((appear + 25)) "${timing[@]}" "$grating" |
        awk -v from=$((appear + 25)) '$2 >= from' | summary)
  read -r removed psnr _ <<<"$got"
  local changes
  changes=$(sed -nE 's/^qrx_host: frame ([0-9]+): ([0-9]+) filters.*/\1:\2/p' "$work/auto.log" | tr '\n' ' ')
  local verdict follow
  follow=$(echo "$changes" | awk -v a="$appear" -v v="$vanish" -v static="$([ "$kind" = "live static" ] && echo 1 || echo 0)" '{
    n = split($0, c, " "); first = -1; gone = -1; later = 0
    for (i = 1; i <= n; ++i) { split(c[i], x, ":"); if (first < 0 && x[2] > 0) first = x[1]; else if (first >= 0) later++; if (x[2] == 0 && x[1] >= v) gone = x[1] }
    printf "appear+%d", first - a; if (!static) printf " vanish+%d", gone - v; printf " changes-after-first %d", later }')
  verdict=$(echo "$follow" | awk -v r="$removed" -v p="$psnr" -v static="$([ "$kind" = "live static" ] && echo 1 || echo 0)" '{
    split($1, a, "+"); ok = a[2] >= 0 && a[2] <= 25 && r >= 20 && p >= 38
    if (!static) { split($2, g, "+"); ok = ok && g[2] >= 0 && g[2] <= 25 } else { ok = ok && $NF == 0 }
    print ok ? "ok" : "MISSED" }')
  [ "${verdict#MISSED}" != "$verdict" ] && fails=$((fails + 1))
  printf '%-12s %-12s %-40s %8s %8s  %s  list: %s %s\n' "$name" "$kind" "$grating" "$removed" "$psnr" "$follow" "$changes" "$verdict"
}

echo
printf '%-12s %-12s %-40s %7s %8s %8s %8s %8s  %s\n' picture kind "gratings (cx,cy,amp)" filters removed target PSNR "(input)" "150 kHz Dot: removed PSNR"
hard_names=(Dune GreenMeadow TwoWings Wood)
[ $quick -eq 1 ] && hard_names=(Dune Wood)
i=0
for name in "${hard_names[@]}"; do
  clean="$work/$name.yuv"
  [ -f "$clean" ] || ffmpeg -v error -y -i "$photos/$name.jpg" \
    -vf "scale=720:576:force_original_aspect_ratio=increase:flags=lanczos,crop=720:576,format=gray" \
    -f rawvideo -pix_fmt yuyv422 "$clean"
  # A third of a bin off both ways: cx bins across, (m + 1/3) of 1024 rows.
  cx=$(awk -v i=$i 'BEGIN { printf "%.2f", 47 + 29 * i + 1/3 }')
  cy=$(awk -v i=$i 'BEGIN { printf "%.3f", -(1 - 2 * (i % 2)) * (38 + 21 * i + 1/3) * 576 / 1024 }')
  run_hard "$name" "between bins" 1 0 0 38 -- "$cx,$cy,12,0.4"
  run_hard "$name" "drift 8" 8 6 0 38 --drift 0.8 -- "$(awk -v i=$i 'BEGIN { printf "%.1f,%.1f,8,0.2", 160.4 - 21.3 * i, 52.7 + 8.2 * i }')"
  run_hard "$name" "noise 3" 4 6 3 36 -- "$(awk -v i=$i 'BEGIN { printf "%.1f,%.1f,10,1.0", 66.6 + 17.1 * i, -(71.3 - 9.6 * i) }')"
  # shellcheck disable=SC2046
  run_hard "$name" "weak+strong" 4 6 0 38 -- \
    $(awk -v i=$i 'BEGIN { printf "%.1f,%.1f,20,0.5 %.1f,%.1f,3.5,2.0", 90.3 + 11.4 * i, 60.6 - 7.3 * i, 140.7 - 13.9 * i, -(45.2 + 6.1 * i) }')
  i=$((i + 1))
done
if [ "${QRX_EVAL_NO_LIVE:-0}" != 1 ]; then
  echo
  printf '%-12s %-12s %-40s %8s %8s  %s\n' picture kind grating removed PSNR "frames until the list follows"
  # 100 kHz is 5.2 bins: cx grows by 5.2 cycles from frame 50 to 175.
  run_live Dune "live" 250 25 50 175 200 5.2 "88.3,41.4,12,0.3"
  run_live Wood "live" 250 25 50 175 200 5.2 "121.6,-57.7,10,1.2"
  run_live GreenMeadow "live static" 100 0 0 0 100000 0 "104.4,33.3,10,0.9"
fi

[ $keep -eq 0 ] && rm -rf "$work"
echo
if [ $fails -gt 0 ]; then
  echo "evaluate-suggest: $fails cases missed their targets"
  exit 1
fi
echo "evaluate-suggest: every target met"
