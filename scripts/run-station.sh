#!/usr/bin/env bash
# Sets up and starts the station with simulated cameras and PLC. As root on Debian 12.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLUEBOX_BUILD:-$top/build}
station=${GLUEBOX_STATION:-$build/station}

"$top/scripts/install-deps.sh"
GLUEBOX_BUILD=$build "$top/scripts/build.sh"
"$top/scripts/make-station.sh" "$build" "$station" >/dev/null

cd "$station/bin"
echo "Station folder: $station"
if [ -n "${DISPLAY:-}" ]; then
    exec ./gluebox
else
    exec xvfb-run -a -s "-screen 0 1024x768x24" ./gluebox
fi
