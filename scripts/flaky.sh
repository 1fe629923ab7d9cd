#!/usr/bin/env bash
# Runs the whole suite again and again on an already built preset, to catch
# tests that fail only now and then:
#   scripts/flaky.sh [runs, default 50] [preset, default default]
# Stops at the first failing run and says which one it was.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-50}
preset=${2:-default}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [runs] [preset]" >&2
  exit 2
fi
# A test program that is not built would fail every run for the wrong reason.
if [ ! -d "build/$preset" ] || [[ $(ctest --preset "$preset" -N 2>&1) == *_NOT_BUILT* ]]; then
  echo "build/$preset is not fully built: run scripts/build.sh $preset first" >&2
  exit 2
fi
for ((run = 1; run <= runs; run++)); do
  echo "== run $run of $runs"
  if ! ctest --preset "$preset" -j2 --output-on-failure; then
    echo "run $run of $runs failed: $((run - 1)) passed, 1 failed"
    exit 1
  fi
done
echo "$runs passed, 0 failed"
