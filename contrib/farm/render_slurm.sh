#!/bin/bash
# A Slurm job array that renders an animation in frame ranges, one range per
# array task, into a shared folder; a dependent job joins the stills.
#
#   FRAMES=250 CHUNK=25 OUTDIR=/shared/stills PROJECT=/shared/project.vort \
#       sbatch --array=0-9 contrib/farm/render_slurm.sh
#   sbatch --dependency=afterok:JOBID --wrap \
#       "ffmpeg -framerate 25 -i /shared/stills/frame%d.ppm -pix_fmt yuv420p out.mp4"
#
# The array needs ceil(FRAMES / CHUNK) tasks (0 to that minus 1). Extra
# options for vortigo-render go in RENDER_OPTIONS (for example "--fly" or
# "--replay time --size 1920x1080").
#SBATCH --job-name=vortigo
#SBATCH --cpus-per-task=2
#SBATCH --output=vortigo-%A_%a.log
set -euo pipefail
: "${FRAMES:?} ${CHUNK:?} ${OUTDIR:?}"
from=$((SLURM_ARRAY_TASK_ID * CHUNK))
to=$((from + CHUNK - 1))
[ $to -ge "$FRAMES" ] && to=$((FRAMES - 1))
[ $from -ge "$FRAMES" ] && exit 0
mkdir -p "$OUTDIR"
# shellcheck disable=SC2086 # RENDER_OPTIONS is a list of words
exec "${VORTIGO_RENDER:-vortigo-render}" ${PROJECT:-} ${RENDER_OPTIONS:-} --quiet \
    --from "$from" --to "$to" --out "$OUTDIR/frame%d.ppm"
