#!/usr/bin/env bash
# The Windows reference host with its window: the demo streams, the settings
# window opens and is closed after a few seconds (as a user would), the host
# ends cleanly and the settings come back into the file it was given.
#   window_host_test.sh WINE HOST_EXE SOURCE_INI WORK_DIR   (WINE: the loader for the program's bitness)
set -euo pipefail
wine=$1 host=$2 source=$3 work=$4
if [ -z "${DISPLAY:-}" ]; then echo "no X display"; exit 77; fi
mkdir -p "$work"
ini="$work/tuned.ini"
cp "$source" "$ini"
grep -q '^DlgWndPosX=-100' "$ini"
status=0
timeout 120 "$wine" "$host" --window --demo --seconds 3 --settings "$(winepath -w "$ini" 2>/dev/null || echo "Z:$ini")" || status=$?
if [ "$status" -ne 0 ]; then echo "host exited with $status"; exit 1; fi
# The window was placed, closed, and its position saved into the file.
if grep -q '^DlgWndPosX=-100' "$ini"; then echo "settings not written back:"; cat "$ini"; exit 1; fi
grep -q '^Filter=En:1/Fx:2301/' "$ini" || { echo "filters lost:"; cat "$ini"; exit 1; }
echo "ok: $(grep DlgWndPos "$ini" | tr '\r\n' '  ')"
