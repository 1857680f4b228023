#!/usr/bin/env bash
# Installs the Debian packages the builds, tests and the demo need, when any
# is missing. Safe to run again: it does nothing when all are present.
#   setup.sh          everything (all builds and tests)
#   setup.sh native   only what the native build needs (the demo)
#   setup.sh evaluate the native build and the interference finder's evaluation
set -euo pipefail

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
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes the ANSI code page from the locale: ru_RU.UTF-8 gives 1251.
if [ "${1:-all}" != native ] && ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  echo "setup: generating the ru_RU.UTF-8 locale"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
