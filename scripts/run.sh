#!/usr/bin/env bash
# Builds everything and starts the logbook (when it has been built).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh"
if [ -x "$top/build/bin/Quillmere" ]; then
  exec "$top/build/bin/Quillmere" "$@"
fi
echo "Built into $top/build/bin; the logbook program is not part of this build yet."
