#!/usr/bin/env bash
# Configures and builds everything into ${GLUEBOX_BUILD:-build}.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${GLUEBOX_BUILD:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2
