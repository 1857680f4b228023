#!/usr/bin/env bash
# Installs the Debian packages the builds, tests and the demo need, when any
# is missing. Safe to run again: it does nothing when all are present.
#   setup.sh          everything (all builds and tests)
#   setup.sh native   only what the native build needs (the demo)
#   setup.sh evaluate the native build and the interference finder's evaluation
#   setup.sh wine32   32-bit Wine for the shipped DLL's tests (optional; exits 1
#                     with the reason on its last line when it cannot be installed)
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Debian's i386 index has been seen broken by a mirror sync ("File has
# unexpected size"), and wine32:i386 needs i386 libraries of exactly the
# installed amd64 versions: apt is asked a few times, half a minute apart. When
# it still cannot be installed the i386 architecture is taken away again, so
# that an index that cannot be fetched does not fail every later update.
if [ "${1:-all}" = wine32 ]; then
  if [ -x /usr/lib/wine/wine ] && dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    exit 0
  fi
  added=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    added=1
  fi
  export DEBIAN_FRONTEND=noninteractive
  tries=${QRX_WINE32_TRIES:-3}
  log=$(mktemp)
  for attempt in $(seq "$tries"); do
    $SUDO apt-get update -qq >"$log" 2>&1 || true
    if $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 >>"$log" 2>&1; then
      rm -f "$log"
      echo "setup: wine32:i386 installed"
      exit 0
    fi
    echo "setup: wine32:i386 not installable, attempt $attempt of $tries"
    if [ "$attempt" -lt "$tries" ]; then sleep 30; fi
  done
  reason=$(grep -E '^(E|W):' "$log" | grep -v 'Some index files failed' | head -n 1 | cut -c1-160)
  rm -f "$log"
  if [ "$added" = 1 ] && ! dpkg -l | awk '$1 == "ii" && $4 == "i386"' | grep -q .; then
    $SUDO dpkg --remove-architecture i386
    $SUDO apt-get update -qq >/dev/null 2>&1 || true
  fi
  echo "${reason:-apt-get could not install wine32:i386}"
  exit 1
fi

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libbenchmark-dev
  libpng-dev libfftw3-dev libcairo2-dev
  frei0r-plugins-dev
)
if [ "${1:-all}" != native ]; then
  # ffmpeg for the README's pipeline test and the evaluation; photographs
  # (GPL-2+, Debian main) for the evaluation.
  packages+=(ffmpeg mate-backgrounds)
  # The frei0r module's clients: gst-launch-1.0 with GStreamer's frei0r
  # wrapper (bad), decodebin and videoconvert (base), Matroska (good) and
  # FFV1 (libav), and Python's GStreamer binding for an application that
  # changes the filters while playing; MLT's melt; mpv's encoding mode.
  packages+=(gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
    gstreamer1.0-libav python3-gi gir1.2-gstreamer-1.0 melt mpv)
fi
if [ "${1:-all}" = all ]; then
  packages+=(
    mingw-w64 wine64
    qemu-user gcc-multilib g++-multilib
    clang-14 libclang-rt-14-dev
  )
  # The settings window under Wine: an X server, a screenshot tool, Mesa's
  # software OpenGL for Direct3D, and the Russian locale (code page 1251).
  packages+=(
    xvfb xauth x11-utils imagemagick libgl1 libglx-mesa0 libgl1-mesa-dri locales
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # One index that cannot be fetched (the i386 one, see above) need not stop
  # the packages that are there.
  $SUDO apt-get update -qq || echo "setup: some package indexes could not be fetched"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes the ANSI code page from the locale: ru_RU.UTF-8 gives 1251.
if [ "${1:-all}" != native ] && ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  echo "setup: generating the ru_RU.UTF-8 locale"
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
