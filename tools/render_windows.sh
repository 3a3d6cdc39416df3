#!/bin/sh
# Renders every window of the desktop program to PNG files (offscreen, no
# display needed) for the README: docs/screenshots/ by default.
#
#   tools/render_windows.sh [BUILD_DIR] [OUT_DIR]
#
# BUILD_DIR (default build) must be configured; the renderer is built there.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
out=${2:-"$root/docs/screenshots"}
cmake --build "$build" --target pelmark-render-windows -j2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out"
# The windows read their port setting: keep the user's own settings out of it.
PELMARK_SETTINGS="$scratch/settings.ini" XDG_RUNTIME_DIR="$scratch" QT_QPA_PLATFORM=offscreen \
    "$build/frontends/pelmark-render-windows" "$out"
