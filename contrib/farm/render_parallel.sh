#!/bin/bash
# Renders an animation in frame ranges with GNU parallel, on this machine's
# cores or on several nodes, and joins the stills into a video.
#
#   render_parallel.sh FRAMES CHUNK OUTDIR [VIDEO] [-- PARALLEL_OPTIONS...] [-- RENDER_OPTIONS...]
#
#   FRAMES   frames in the animation (0 to FRAMES-1)
#   CHUNK    frames per job
#   OUTDIR   folder for the stills (frame%d.ppm, numbered by frame index);
#            on several nodes it must be a shared folder (NFS and the like)
#   VIDEO    optional: joined with the ffmpeg tool at 25 frames/s
# Examples:
#   render_parallel.sh 250 50 stills out.mp4 -- -j2 -- project.vort --fly --size 1280x720
#   render_parallel.sh 250 25 /shared/stills out.mp4 -- --sshlogin 8/node1,8/node2 -- \
#       /shared/project.vort --replay time
# Every node needs vortigo-render on its PATH (VORTIGO_RENDER overrides) and
# the project's files at the same path. Frames are a function of their index
# for --replay step, --replay time and --fly; a script that keeps state from
# frame to frame needs --warm-up in the render options.
set -euo pipefail
frames=$1 chunk=$2 outdir=$3
shift 3
video=
if [ $# -gt 0 ] && [ "$1" != "--" ]; then video=$1; shift; fi
parallel_options=() render_options=()
if [ $# -gt 0 ] && [ "$1" = "--" ]; then
    shift
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do parallel_options+=("$1"); shift; done
fi
if [ $# -gt 0 ] && [ "$1" = "--" ]; then shift; render_options=("$@"); fi
render=${VORTIGO_RENDER:-vortigo-render}
mkdir -p "$outdir"

for ((from = 0; from < frames; from += chunk)); do
    to=$((from + chunk - 1))
    [ $to -ge "$frames" ] && to=$((frames - 1))
    echo "$from $to"
done | parallel --halt now,fail=1 --colsep ' ' "${parallel_options[@]}" \
    "$render" "${render_options[@]}" --quiet --from {1} --to {2} --out "$outdir/frame%d.ppm"

if [ -n "$video" ]; then
    ffmpeg -loglevel error -y -framerate 25 -i "$outdir/frame%d.ppm" -pix_fmt yuv420p "$video"
fi
