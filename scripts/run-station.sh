#!/usr/bin/env bash
# Sets up and starts the station with simulated cameras and PLC. As root on Debian 12.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLUEBOX_BUILD:-$top/build}
station=${GLUEBOX_STATION:-$build/station}

"$top/scripts/install-deps.sh"
GLUEBOX_BUILD=$build "$top/scripts/build.sh"
"$top/scripts/make-station.sh" "$build" "$station" >/dev/null
echo "Station folder: $station"

# The PLC simulator serves the station's address map on a pseudo-terminal; its log and
# a control file (echo "alarm 7" >> data/plcsim.control) sit in the station's data/.
link="$station/plc-port"
"$build/bin/plcsim" --station "$station" --link "$link" \
    --control "$station/data/plcsim.control" </dev/null >"$station/data/plcsim.log" 2>&1 &
plcsim=$!
trap 'kill "$plcsim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
done
export GLUEBOX_PLC_PORT="$link"

cd "$station/bin"
if [ -n "${DISPLAY:-}" ]; then
    ./gluebox
else
    xvfb-run -a -s "-screen 0 1024x768x24" ./gluebox
fi
