#!/usr/bin/env bash
# The main job: on a fresh Debian machine, installs what is missing, builds
# the plug-in and the reference host natively, and filters the built-in
# interfered test picture. Pictures land in out/demo/.
#   bash scripts/demo.sh [--format bgr24]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh native
cmake --preset native >/dev/null
cmake --build build/native -j "$(nproc)" --target qrx_host >/dev/null
mkdir -p out/demo
cd out/demo
"$root/build/native/tools/host/qrx_host" --demo "$@"
echo "pictures: $(pwd)/demo_before.png $(pwd)/demo_after.png"
