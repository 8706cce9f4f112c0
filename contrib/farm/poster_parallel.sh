#!/bin/bash
# Renders one poster in tiles with GNU parallel, on this machine's cores or on
# several nodes sharing a folder, and joins the tiles into the picture.
#
#   poster_parallel.sh WIDTHxHEIGHT TILE OUT [-- PARALLEL_OPTIONS...] [-- RENDER_OPTIONS...]
#
#   TILE   tile size in pixels (each job draws one tile)
#   OUT    NAME.png or NAME.tif; the tiles go to NAME.tileNNNNN.ppm beside it
#          (a shared folder on several nodes) and are removed once joined
# Example:
#   poster_parallel.sh 20000x14000 2048 /shared/poster.tif -- --sshlogin 8/node1,8/node2 -- \
#       /shared/project.vort --super-sample
set -euo pipefail
size=$1 tile=$2 out=$3
shift 3
parallel_options=() render_options=()
if [ $# -gt 0 ] && [ "$1" = "--" ]; then
    shift
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do parallel_options+=("$1"); shift; done
fi
if [ $# -gt 0 ] && [ "$1" = "--" ]; then shift; render_options=("$@"); fi
render=${VORTIGO_RENDER:-vortigo-render}

# Tile 0 here first: its line names the tile count (the filters may round
# the tile size, so the count is the renderer's to say).
line=$("$render" "${render_options[@]}" --size "$size" --tile "$tile" \
    --tiles-from 0 --tiles-to 0 --out "$out" 2>&1 | tail -n 1)
count=$(sed -n 's/^vortigo-render: tiles 0 to 0 of \([0-9]*\) .*/\1/p' <<<"$line")
[ -n "$count" ] || { echo "poster_parallel.sh: $line" >&2; exit 1; }

if [ "$count" -gt 1 ]; then
    # -q: every argument reaches the renderer as it is, spaces included.
    seq 1 $((count - 1)) | parallel -q --halt now,fail=1 "${parallel_options[@]}" \
        "$render" "${render_options[@]}" --quiet --size "$size" --tile "$tile" \
        --tiles-from {} --tiles-to {} --out "$out"
fi
"$render" --join --size "$size" --out "$out"
for ((i = 0; i < count; ++i)); do rm -f "$(printf '%s.tile%05d.ppm' "$out" "$i")"; done
