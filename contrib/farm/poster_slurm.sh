#!/bin/bash
# A Slurm job array that renders a poster's tiles, CHUNK tiles per array task,
# into a shared folder; a dependent job joins them.
#
#   SIZE=20000x14000 TILE=2048 TILES=70 CHUNK=10 OUT=/shared/poster.tif \
#   PROJECT=/shared/project.vort sbatch --array=0-6 contrib/farm/poster_slurm.sh
#   sbatch --dependency=afterok:JOBID --wrap "vortigo-render --join --size 20000x14000 \
#       --out /shared/poster.tif"
#
# TILES is the tile count: ceil(W / TILE) x ceil(H / TILE), or what
# `vortigo-render ... --tiles-from 0 --tiles-to 0` names (with --dof the tile
# size is rounded to the blur's mipmap blocks). The array needs
# ceil(TILES / CHUNK) tasks. Extra options go in RENDER_OPTIONS.
#SBATCH --job-name=vortigo-poster
#SBATCH --cpus-per-task=2
#SBATCH --output=vortigo-poster-%A_%a.log
set -euo pipefail
: "${SIZE:?} ${TILE:?} ${TILES:?} ${CHUNK:?} ${OUT:?}"
from=$((SLURM_ARRAY_TASK_ID * CHUNK))
to=$((from + CHUNK - 1))
[ $to -ge "$TILES" ] && to=$((TILES - 1))
[ $from -ge "$TILES" ] && exit 0
# shellcheck disable=SC2086 # RENDER_OPTIONS is a list of words
exec "${VORTIGO_RENDER:-vortigo-render}" ${PROJECT:-} ${RENDER_OPTIONS:-} --quiet \
    --size "$SIZE" --tile "$TILE" --tiles-from "$from" --tiles-to "$to" --out "$OUT"
