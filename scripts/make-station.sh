#!/usr/bin/env bash
# Lays out a station folder: the template (bin/, conf/, model/, data/) and the built
# binary. Files already in DEST (settings, passwords, data) are kept.
#   scripts/make-station.sh BUILD_DIR DEST
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
dest=$2
mkdir -p "$dest"
cp -rn "$top/station/." "$dest/"
find "$dest" -name .gitkeep -delete
cp -f "$build/bin/gluebox" "$dest/bin/gluebox"
echo "$dest"
