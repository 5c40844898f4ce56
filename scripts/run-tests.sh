#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLUEBOX_BUILD:-$top/build}

"$top/scripts/install-deps.sh"
"$top/tools/gluegen/install-train-deps.sh" # tst_teachpath fine-tunes the model for a few steps
GLUEBOX_BUILD=$build "$top/scripts/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 600
