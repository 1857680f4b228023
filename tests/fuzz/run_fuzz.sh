#!/bin/sh
# Runs every fuzz target of a fuzz build for the given number of seconds over
# a scratch copy of its seed corpus; fails on the first finding.
# Usage: tests/fuzz/run_fuzz.sh <builddir> <seconds>
set -eu
build=${1:?usage: run_fuzz.sh <builddir> <seconds>}
seconds=${2:?usage: run_fuzz.sh <builddir> <seconds>}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for target in settings filter_text; do
  binary="$build/fuzz_$target"
  if [ ! -x "$binary" ]; then
    echo "run_fuzz: missing $binary" >&2
    exit 1
  fi
  mkdir -p "$work/$target" "$work/$target-artifacts"
  cp "$here/corpus/$target"/* "$work/$target/"
  echo "run_fuzz: fuzz_$target for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
      -artifact_prefix="$work/$target-artifacts/" "$work/$target" >"$work/$target.log" 2>&1; then
    tail -n 40 "$work/$target.log" >&2
    for artifact in "$work/$target-artifacts"/*; do
      [ -e "$artifact" ] && cp "$artifact" "$build/" && echo "run_fuzz: finding saved as $build/$(basename "$artifact")" >&2
    done
    status=1
  else
    grep -E "^Done|stat::number_of_executed_units" "$work/$target.log" | tail -n 1 || true
  fi
done
exit $status
