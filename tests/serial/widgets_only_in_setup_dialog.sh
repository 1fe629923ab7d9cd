#!/usr/bin/env bash
# Qt Widgets belongs to the setup dialog alone: no source of the port or the
# store includes a Widgets header, and the programs given (which use at most
# the port and the store) do not load libQt6Widgets.
# Usage: widgets_only_in_setup_dialog.sh SOURCE_DIR PROGRAM...
set -euo pipefail
source_dir=$1
shift
status=0
widgets_headers=$(dirname "$(find /usr/include -path '*QtWidgets/qwidget.h' -print -quit)")
while read -r file header; do
  if [[ $header == QtWidgets* || -e $widgets_headers/$header ]]; then
    echo "$file includes the Qt Widgets header $header"
    status=1
  fi
done < <(grep -rHoE '#include <Q[A-Za-z/]+>' "$source_dir/serial/port" "$source_dir/serial/store" \
           "$source_dir/serial/CPort.h" | sed -E 's/:#include <(.*)>/ \1/')
for program in "$@"; do
  if ldd "$program" | grep -q 'libQt6Widgets'; then
    echo "$program loads libQt6Widgets"
    status=1
  fi
done
exit $status
