#!/bin/sh
# Saves a picture of the bellwave window playing a generated tone on the virtual device.
# Usage: scripts/screenshot.sh [BUILD_DIR] [SECONDS]
# The picture lands in BUILD_DIR/screenshots/bellwave-window.png (BUILD_DIR defaults to
# build). Runs offscreen, or under Xvfb when xvfb-run is installed and BELLWAVE_XVFB=1.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-1.5}
case $build in /*) ;; *) build=$here/$build ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "screenshot: $build is not a configured build folder (run make first)" >&2
    exit 1
fi
cmake --build "$build" --target bellwave-screenshot bellwave_virtual >/dev/null
mkdir -p "$build/screenshots"
out=$build/screenshots/bellwave-window.png

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/registry" "$scratch/work"
cp "$build/share/bellwave/machine.reg" "$scratch/registry/machine.reg"

cd "$scratch/work"
if [ "${BELLWAVE_XVFB:-0}" = 1 ] && command -v xvfb-run >/dev/null 2>&1; then
    BELLWAVE_REGISTRY_DIR=$scratch/registry QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1280x800x24" "$build/shell/bellwave-screenshot" "$out" "$seconds"
else
    BELLWAVE_REGISTRY_DIR=$scratch/registry QT_QPA_PLATFORM=offscreen \
        "$build/shell/bellwave-screenshot" "$out" "$seconds"
fi
