#!/usr/bin/env bash
# The README's frei0r lines, run for real in each client: ffmpeg (with a
# settings file and with the Filter= text in the graph), mpv's encoding mode
# (and its live line's graph on the clip), gst-launch-1.0 and melt (a command
# line, the same on three threads, and an MLT project), each finding the
# module through FREI0R_PATH, and ffmpeg once more through ~/.frei0r-1/lib. The clip is lossless BGRA with interference at the
# README's filter in its upper part; every output frame, the first included,
# must have it removed, the clean lower part unchanged within rounding and
# alpha kept. The module's trace shows what each host did (threads,
# instances, parameter calls, frame times).
#   frei0r_clients_test.sh MODULE_DIR QRX_FREI0R_CLIP README.md
set -uo pipefail
module_dir=$(cd "$1" && pwd) clip=$2 readme=$3
here=$(cd "$(dirname "$0")" && pwd)

clients=(ffmpeg mpv gst-launch-1.0 melt)
for c in "${clients[@]}"; do
  if ! command -v "$c" >/dev/null; then
    echo "$c is not installed (scripts/setup.sh installs it)"
    if [ -n "${CI:-}" ]; then exit 1; fi
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The clients' own settings, caches and registries stay in here.
export HOME=$work XDG_CONFIG_HOME=$work/.config XDG_CACHE_HOME=$work/.cache GST_REGISTRY=$work/gst-registry.bin
export FREI0R_PATH=$module_dir QRX_FREI0R_TRACE=1

# The README's lines: the indented lines of its frei0r section.
section=$(awk '/^## Use it in ffmpeg, mpv, GStreamer/ { on = 1; next }
               on && /^## / { exit }
               on && /^    / { sub(/^    /, ""); print }' "$readme")
line() { grep -E "$1" <<<"$section" | head -n 1; }
ffmpeg_settings=$(line '^ffmpeg .*qrx_freqfilter:my\.ini')
ffmpeg_text=$(line "^ffmpeg .*qrx_freqfilter:'\\|\\|")
mpv_encode=$(line '^mpv in\.mkv .* -o out\.mkv')
mpv_live=$(line '^mpv av://v4l2')
gst=$(line '^gst-launch-1\.0 ')
melt_line=$(line '^melt in\.mkv ')
install=$(line '^mkdir -p ~/\.frei0r-1/lib')
mlt_filter=$(grep -E '^ *</?(filter|property)' <<<"$section")
for name in ffmpeg_settings ffmpeg_text mpv_encode mpv_live gst melt_line install mlt_filter; do
  if [ -z "${!name}" ]; then echo "the README has no $name line in its frei0r section"; exit 1; fi
done

# The filter of the README's second ffmpeg line, unquoted, is the clip's
# interference and the settings file's list.
filters=$(sed -E "s/.*qrx_freqfilter:'\|\|([^']*)'.*/\1/; s/\\\\:/:/g" <<<"$ffmpeg_text")
width=720 height=576 frames=10
"$clip" make $width $height $frames "$filters" clean.bgra noisy.bgra || { echo "cannot make the clip"; exit 1; }
printf '[GLOBAL]\r\nFFTLine=512\r\n[DEFAULT]\r\nProcEnable=1\r\nFilter=%s\r\n' "$filters" >my.ini
cp my.ini my.ini.before
ffmpeg -nostdin -v error -f rawvideo -pix_fmt bgra -s ${width}x$height -r 25 -i noisy.bgra \
  -c:v ffv1 -pix_fmt bgra in.mkv || exit 1

failures=()
# Runs one client line (with its changes for this test), decodes out.mkv
# and judges every frame.
run() {  # name command-line [check options]
  local name=$1 command=$2
  shift 2
  echo
  echo "== $name: $command"
  rm -f out.mkv out.bgra
  local start=$SECONDS
  if ! timeout 120 bash -c "$command" </dev/null >"$name.out" 2>"$name.log"; then
    grep -v '^qrx_freqfilter: trace' "$name.log" | tail -n 20
    failures+=("$name (the client failed)")
    return
  fi
  echo "ran in $((SECONDS - start)) s"
  grep -ao 'qrx_freqfilter: .*' "$name.log" | grep -v '^qrx_freqfilter: trace'
  # What the host did, from the module's trace (a client's progress line
  # may stand before a trace line).
  grep -ao 'qrx_freqfilter: trace .*' "$name.log" | awk '
       { threads[$4] = 1; calls[$5]++ }
       $5 == "construct" { sizes = sizes " " $6 "x" $8 }
       $5 == "update" && calls["update"] <= 3 { times = times " " $8 }
       END {
         t = 0; for (k in threads) t++
         printf "host: %d thread(s); instances of%s; %d parameter sets for %d updates; first frame times%s\n",
                t, sizes, calls["set"], calls["update"], times
       }'
  if ! ffmpeg -nostdin -v error -i out.mkv -f rawvideo -pix_fmt bgra out.bgra; then
    failures+=("$name (no output)")
    return
  fi
  if ! "$clip" check $width $height "$filters" clean.bgra noisy.bgra out.bgra --frames $frames --alpha "$@"; then
    failures+=("$name")
  fi
}

run ffmpeg_settings "$ffmpeg_settings"
run ffmpeg_filter_text "$ffmpeg_text"
run mpv "$mpv_encode"
# The live line with the clip for the device, encoded since nothing can be shown here.
run mpv_live_graph "${mpv_live/av:\/\/v4l2:\/dev\/video0/in.mkv} -o out.mkv --ovc=ffv1"
run gst_launch "$gst"
run melt "$melt_line"
# MLT rendering on three threads: an instance for each, at the same time.
run melt_three_threads "$melt_line real_time=-3"
# MLT's "threads" on the filter: frames cut in two slices, both passed to
# one instance from two threads at once.
run melt_slices "$melt_line threads=2"
printf '<mlt>\n  <producer id="clip">\n    <property name="resource">in.mkv</property>\n%s\n  </producer>\n</mlt>\n' \
  "$mlt_filter" >project.mlt
run melt_project "melt project.mlt -consumer avformat:out.mkv vcodec=ffv1 pix_fmt=bgra an=1"
# A GStreamer application changing the filters on the running element
# (GStreamer then passes the text in a way of its own): every frame after
# the change is filtered with the new list.
if /usr/bin/python3 -c 'import gi; gi.require_version("Gst", "1.0")' 2>/dev/null; then
  run gst_live_change "/usr/bin/python3 $here/gst_live_change.py in.mkv out.mkv \
    'En:1/Fx:5000/Fy:4000/Wx:300/Wy:300/O:3/S:-60/T:0//' '$filters'" --from 1
elif [ -n "${CI:-}" ]; then
  failures+=("gst_live_change (python3-gi is not installed)")
else
  echo "python3-gi is not installed: the live change in GStreamer is not tried"
fi
# The user's own frei0r folder instead of FREI0R_PATH.
run ffmpeg_home_folder "${install//build\/native\/frei0r\/qrx_freqfilter.so/$module_dir/qrx_freqfilter.so} && unset FREI0R_PATH && $ffmpeg_settings"

cmp -s my.ini my.ini.before || failures+=("the settings file was changed")
echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "FAILED: ${failures[*]}"
  exit 1
fi
echo "every client filtered every frame"
