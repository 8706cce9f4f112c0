#!/bin/bash
# Sets Vortigo up if needed and starts the studio on its default project.
# Without a desktop it renders five seconds of the default project flying
# forward into vortigo-flight.AVI in the current folder instead.
#   VORTIGO_BUILD_DIR names another build folder than build/.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
root=$PWD
build=${VORTIGO_BUILD_DIR:-build}
case $build in
/*) ;;
*) build=$root/$build ;;
esac
# Only the two programs: the tests and benchmarks stay with the test command.
bash scripts/setup.sh vortigo vortigo-render

has_display() {
    [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
    [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}
if has_display; then
    exec "$build/bin/vortigo"
fi

echo "No desktop here: rendering five seconds of the default project instead."
cd "$here"
"$build/bin/vortigo-render" --fly --size 640x480 --fps 25 --frames 125 --codec mjpeg \
    --out vortigo-flight.avi
echo "Written: $here/vortigo-flight.AVI (Motion JPEG, 640 x 480, 25 frames/s)."
echo "To use the studio itself without a desktop, run it under a virtual X server:"
echo "    xvfb-run -a $build/bin/vortigo"
