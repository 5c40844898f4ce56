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
# It counts boxes at the simulated line's rate (camsim.txt's RATE, products per minute),
# so that the PLC's production total and the station's counts tell the same story.
link="$station/plc-port"
rate=$(awk -F'[=# \t]+' '$1 == "RATE" { r = $2 } END { printf "%g", (r ? r : 600) / 60 }' \
    "$station/conf/camsim.txt" 2>/dev/null || echo 10)
"$build/bin/plcsim" --station "$station" --link "$link" --rate "$rate" \
    --control "$station/data/plcsim.control" </dev/null >"$station/data/plcsim.log" 2>&1 &
plcsim=$!
trap 'kill "$plcsim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
done
export GLUEBOX_PLC_PORT="$link"

# Ctrl+C reaches the station itself (the simulator in the background ignores it), so
# it shuts down in order and logs "Application exited."; the trap then ends the
# simulator.
cd "$station/bin"
if [ -n "${DISPLAY:-}" ]; then
    ./gluebox
else
    # No display: Qt serves the window itself over VNC, with no X server that a Ctrl+C
    # could take down under the station. The server has no password and listens on all
    # interfaces; keep the port behind a firewall or an SSH tunnel.
    port=${GLUEBOX_VNC_PORT:-5900}
    echo "No display: the window is served over VNC on port $port."
    echo "  See it:         vncviewer localhost:$port   (any VNC viewer; from another machine, host:$port)"
    echo "  Screenshot:     $top/tools/screenshot.py --port $port station.png"
    ./gluebox -platform "vnc:size=1024x768:port=$port"
fi
