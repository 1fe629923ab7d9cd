#!/usr/bin/env bash
# Installs what is needed, builds and runs every test: scripts/test.sh [preset] [ctest args...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
bash scripts/install-deps.sh
bash scripts/build.sh "$preset"
ctest --preset "$preset" -j2 "$@"
