#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a while:
#   scripts/fuzz.sh [seconds per fuzzer, default 30]
# A crash stops the run and leaves its input as crash-* in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
targets=$(for f in tests/fuzz/*_fuzz.cpp; do basename "$f" .cpp; done)
cmake --build --preset fuzz --target $targets
mkdir -p build/fuzz/findings
for t in $targets; do
  corpus=build/fuzz/corpus/$t
  mkdir -p "$corpus"
  seeds=tests/fuzz/seeds/$t
  echo "== $t: ${seconds}s"
  build/fuzz/tests/fuzz/$t -max_total_time="$seconds" -artifact_prefix=build/fuzz/findings/ \
    -print_final_stats=1 "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | tail -n 12
done
