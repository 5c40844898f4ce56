#!/usr/bin/env bash
# Installs the Debian 12 packages that build, run and test the station (as root).
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qtbase5-dev          # Qt 5 Core, Gui, Widgets, Test
    libopencv-dev        # core, imgproc, imgcodecs, dnn
    libmodbus-dev        # Modbus RTU master and the PLC simulator's slave
    libaravis-dev        # GenICam cameras: GigE Vision and USB3 Vision
    libmosquitto-dev     # the plant link: MQTT client
    mosquitto            # the MQTT broker that the plant link's tests start on loopback
    mosquitto-clients    # mosquitto_sub: bench/mqtt's subscriber
    libusb-1.0-0-dev     # named by Aravis's pkg-config file
    aravis-tools-cli     # arv-tool-0.8: a camera's IP address and user ID
    iproute2 util-linux  # tests start GigE Vision cameras in a network namespace of their own
    python3              # tools/screenshot.py
    fonts-wqy-microhei   # the screens and the splash are Chinese
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
