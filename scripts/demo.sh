#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program against the bundled
# sign simulator, published as COM3 in a private folder. Closing the program
# stops the simulator. Arguments go to the simulated sign, for example
#   bash scripts/demo.sh --panel 0=12.34,2,1 --brightness 5
#   bash scripts/demo.sh --silent        (the search then finds no sign)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
bin=build/default
ports=$(mktemp -d /tmp/tarvo-demo-XXXXXX)
transcript=$ports/transcript.txt
pids=()
cleanup() {
  if ((${#pids[@]})); then kill "${pids[@]}" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$ports"
}
trap cleanup EXIT

# A real sign answers a write frame only after its 11 bytes have crossed the
# line (about 6 ms at 19200 baud), after the program has discarded its input
# queue; the simulated sign waits as long, so writes are acknowledged at once.
"$bin/sim/tarvo-sign-sim" --dir "$ports" --line-rate 19200 --port COM3 "$@" >"$transcript" 2>&1 &
pids+=($!)
for _ in $(seq 1 200); do
  grep -q '^ready:' "$transcript" && break
  kill -0 "${pids[0]}" 2>/dev/null || { cat "$transcript"; exit 1; }
  sleep 0.05
done
grep -q '^ready:' "$transcript" || { echo "The simulator did not start."; exit 1; }
echo "Simulated sign: $(grep '^ready:' "$transcript")"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the window runs on Qt's offscreen platform and cannot be seen."
  echo "The simulator's transcript follows; press Ctrl+C to end."
  export QT_QPA_PLATFORM=offscreen
  tail -n +2 -f "$transcript" &
  pids+=($!)
fi
TARVO_COM_DIR=$ports "$bin/app/tarvo"
