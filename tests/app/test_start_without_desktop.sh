#!/bin/bash
# The start command on a machine without a desktop renders five seconds of
# the default project into vortigo-flight.AVI in the current folder, says
# where, and succeeds.  Usage: test_start_without_desktop.sh SOURCE_DIR BUILD_DIR WERROR
set -euo pipefail
source=$1
build=$2
werror=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# This test's own build, with its own settings: nothing to configure or rebuild.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY VORTIGO_BUILD_DIR="$build" VORTIGO_WERROR="$werror" \
    LIBGL_ALWAYS_SOFTWARE=1 \
    bash "$source/scripts/start.sh" 2>&1) || { echo "FAIL: start.sh failed: $out" >&2; exit 1; }
echo "$out" | grep -q "vortigo-flight.AVI" || { echo "FAIL: does not say where: $out" >&2; exit 1; }
echo "$out" | grep -q "xvfb-run" || { echo "FAIL: no word on the studio: $out" >&2; exit 1; }
probe=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries \
    stream=codec_name,width,height,r_frame_rate,nb_read_packets -of csv=p=0 vortigo-flight.AVI)
[ "$probe" = "mjpeg,640,480,25/1,125" ] || { echo "FAIL: vortigo-flight.AVI: $probe" >&2; exit 1; }
echo "start without a desktop: $probe"
