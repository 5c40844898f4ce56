#!/usr/bin/env bash
# Debian packages that only training needs (as root): the trainer, and the test of the plant's
# way of teaching a new box. The station does not.
set -euo pipefail
packages=(
    python3-torch    # trains the network on the CPU
    python3-opencv   # reads the pictures as the station does and checks the Darknet export
    python3-numpy
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
