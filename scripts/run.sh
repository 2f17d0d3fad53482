#!/usr/bin/env bash
# Builds everything and starts the logbook (when it has been built).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh"
if [ -x "$top/build/bin/Quillmere" ]; then
  exec "$top/build/bin/Quillmere" "$@"
fi
echo "The build did not produce $top/build/bin/Quillmere." >&2
exit 1
