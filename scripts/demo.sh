#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program against the bundled
# sign simulator, published as COM3 in a private folder. Closing the program
# stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
bin=build/default
ports=$(mktemp -d /tmp/tarvo-demo-XXXXXX)
ready=$ports/.ready
"$bin/sim/tarvo-sign-sim" --dir "$ports" --port COM3 >"$ready" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$ports"' EXIT
for _ in $(seq 1 100); do
  [ -s "$ready" ] && break
  kill -0 "$sim" 2>/dev/null || { cat "$ready"; exit 1; }
  sleep 0.05
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the window runs on Qt's offscreen platform (set DISPLAY to see it)."
  export QT_QPA_PLATFORM=offscreen
fi
TARVO_COM_DIR=$ports "$bin/app/tarvo"
