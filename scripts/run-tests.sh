#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLUEBOX_BUILD:-$top/build}

"$top/scripts/install-deps.sh"
GLUEBOX_BUILD=$build "$top/scripts/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 600
