#!/usr/bin/env bash
# Fails when a program's folder includes another program's headers: what two
# programs share lives once, in a lower room (station/, mqtt/, fleet_push/).
set -euo pipefail
cd "$1"
programs=(app cli agent fleet office sim)
found=0
for program in "${programs[@]}"; do
  for other in "${programs[@]}"; do
    [ "$program" = "$other" ] && continue
    grep -rn --include='*.cpp' --include='*.h' "#include \"$other/" "$program" && found=1
  done
done
exit "$found"
