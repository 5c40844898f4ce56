#!/usr/bin/env bash
# Sets up and starts the station with simulated cameras and PLC. As root on Debian 12.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLUEBOX_BUILD:-$top/build}
station=${GLUEBOX_STATION:-$build/station}

"$top/scripts/install-deps.sh"
GLUEBOX_BUILD=$build "$top/scripts/build.sh"
# make-station.sh keeps an operator's files; only the ones it lays out new are set here.
fresh_conf=; [ -e "$station/conf/conf.txt" ] || fresh_conf=1
fresh_camsim=; [ -e "$station/conf/camsim.txt" ] || fresh_camsim=1
"$top/scripts/make-station.sh" "$build" "$station" >/dev/null
# A new folder shows a working line: the template's recipe 0|0|0 fails no box, so every
# bad one would go on as missed. With recipe 5|5|5 and five dots a picture, a box with a
# missing dot is NG and ejected.
if [ -n "$fresh_conf" ]; then
    sed -i -e 's/^NO1=0|0|0/NO1=5|5|5/' -e 's/^NO2=0|0|0/NO2=5|5|5/' "$station/conf/conf.txt"
fi
if [ -n "$fresh_camsim" ]; then
    sed -i '/^DOTS=/d' "$station/conf/camsim.txt"
    echo "DOTS=5" >>"$station/conf/camsim.txt"
fi
echo "Station folder: $station"

# The PLC simulator serves the station's address map on a pseudo-terminal; its log and
# a control file (echo "alarm 7" >> data/plcsim.control) sit in the station's data/.
# It counts boxes at the simulated line's rate (camsim.txt's RATE, products per minute),
# so that the PLC's production total and the station's counts tell the same story. It
# answers as a real 9600-baud line with a 10 ms scan does; GLUEBOX_PLC_INSTANT=1 makes it
# answer at once.
link="$station/plc-port"
timing=()
if [ "${GLUEBOX_PLC_INSTANT:-0}" = 1 ]; then timing=(--instant); fi
rate=$(awk -F'[=# \t]+' '$1 == "RATE" { r = $2 } END { printf "%g", (r ? r : 600) / 60 }' \
    "$station/conf/camsim.txt" 2>/dev/null || echo 10)
"$build/bin/plcsim" --station "$station" --link "$link" --rate "$rate" "${timing[@]}" \
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
