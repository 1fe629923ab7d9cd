#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a while:
#   scripts/fuzz.sh [seconds per fuzzer, default 30] [fuzzer ...]
# Without fuzzer names every tests/fuzz/*_fuzz.cpp runs, one after the other.
# Each starts from its seeds (tests/fuzz/seeds/<fuzzer>) and the corpus it grew
# before (build/fuzz/corpus/<fuzzer>). A crash or a failed property stops the
# run and leaves its input as crash-* in build/fuzz/findings; the whole output
# of each fuzzer is in build/fuzz/findings/<fuzzer>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
if (($#)); then
  targets="$*"
else
  targets=$(for f in tests/fuzz/*_fuzz.cpp; do basename "$f" .cpp; done)
fi
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
# shellcheck disable=SC2086 # one argument per target
cmake --build --preset fuzz --target $targets
# Undefined behaviour is a finding too, not only a message.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
findings=build/fuzz/findings
mkdir -p "$findings"
for t in $targets; do
  corpus=build/fuzz/corpus/$t
  seeds=tests/fuzz/seeds/$t
  log=$findings/$t.log
  mkdir -p "$corpus"
  echo "== $t: ${seconds}s"
  if ! build/fuzz/tests/fuzz/"$t" -max_total_time="$seconds" -artifact_prefix="$findings/" \
      -print_final_stats=1 "$corpus" $([ -d "$seeds" ] && echo "$seeds") >"$log" 2>&1; then
    grep -E -A 12 'property failed|ERROR: (AddressSanitizer|libFuzzer)|runtime error' "$log" | head -n 40
    echo "$t FAILED: input in $findings/ (crash-*), full output in $log"
    exit 1
  fi
  grep -E 'DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb' "$log"
done
