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

# The sign stands as at a station: the five grades from the top row down, the
# same price on both halves (row r is panels 5-r and 13-r), 95 and 98 with the
# first inscription, ДТ with the second. Arguments come after, so they win.
sign=()
for row in "1 47.50 1 0" "2 55.30 2 0" "3 60.40 3 1" "4 72.90 4 1" "5 68.20 5 2"; do
  read -r r price grade inscription <<<"$row"
  sign+=(--panel "$((5 - r))=$price,$grade,$inscription" --panel "$((13 - r))=$price,$grade,$inscription")
done
# Its line takes a real line's time at 19200 baud, so every answer comes when a
# real sign's would.
"$bin/sim/tarvo-sign-sim" --dir "$ports" --line-rate 19200 --port COM3 "${sign[@]}" "$@" >"$transcript" 2>&1 &
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
