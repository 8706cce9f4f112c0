#!/bin/bash
# Renders an animation on a Slurm cluster: one command submits a job array
# (one frame range per task, stills into a shared folder) and a join job that
# runs once every task has succeeded and makes the video.
#
#   vortigo-farm-slurm [--time LIMIT] [--mem SIZE] [--gpu] [--partition NAME]
#                      FRAMES CHUNK OUTDIR VIDEO [-- RENDER_OPTIONS...]
#
#   FRAMES   frames in the animation (0 to FRAMES-1)
#   CHUNK    frames per array task; the array has ceil(FRAMES / CHUNK) tasks
#   OUTDIR   a folder every node sees (the stills frame%d.ppm and the logs)
#   VIDEO    the joined video, at the rate the frames were rendered at
#            (--fps in the render options, else the project's, else 25)
#   --time, --mem, --partition go to sbatch for every task; --gpu asks for
#   one GPU a task (--gres=gpu:1).
# Example:
#   vortigo-farm-slurm --time 0:30:00 --mem 4G --gpu 250 25 /shared/stills \
#       /shared/out.mp4 -- /shared/project.vort --replay time --size 1920x1080
# It prints the two job ids. Every node needs vortigo-render on its PATH
# (VORTIGO_RENDER overrides) and ffmpeg for the join.
set -euo pipefail
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
    # The comment above is the help.
    sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0"
    exit 0
fi
name=${0##*/}

usage() {
    echo "usage: $name [--time LIMIT] [--mem SIZE] [--gpu] [--partition NAME] FRAMES CHUNK OUTDIR VIDEO [-- RENDER_OPTIONS...]" >&2
    exit 2
}
is_count() { [[ $1 =~ ^[0-9]+$ ]] && [ "$((10#$1))" -gt 0 ]; }

# The rate the frames are rendered at: --fps, else the project's, else 25.
frame_rate() {
    local rate= project= i options=("$@")
    for ((i = 0; i < ${#options[@]}; i++)); do
        case ${options[i]} in
            --fps) rate=${options[i + 1]:-} ;;
            --fps=*) rate=${options[i]#--fps=} ;;
            *.vort | *.VORT) project=${options[i]} ;;
        esac
    done
    if [ -z "$rate" ] && [ -n "$project" ]; then
        rate=$("${VORTIGO_RENDER:-vortigo-render}" "$project" --describe | sed -n 's/^FRAMESPERSEC=//p')
    fi
    echo "${rate:-25}"
}

# Inside the jobs sbatch runs a copy of this script with one of these.
case ${1:-} in
    --task) # --task FRAMES CHUNK OUTDIR RENDER_OPTIONS...
        frames=$2 chunk=$3 outdir=$4
        shift 4
        from=$((SLURM_ARRAY_TASK_ID * chunk))
        to=$((from + chunk - 1))
        [ $to -ge "$frames" ] && to=$((frames - 1))
        [ $from -lt "$frames" ] || exit 0
        exec "${VORTIGO_RENDER:-vortigo-render}" "$@" --quiet --from "$from" --to "$to" \
            --out "$outdir/frame%d.ppm"
        ;;
    --join) # --join OUTDIR VIDEO RENDER_OPTIONS...
        outdir=$2 video=$3
        shift 3
        exec ffmpeg -loglevel error -y -framerate "$(frame_rate "$@")" -start_number 0 \
            -i "$outdir/frame%d.ppm" -pix_fmt yuv420p "$video"
        ;;
esac

job_options=() join_options=()
while [ $# -gt 0 ]; do
    case $1 in
        --time | --mem | --partition)
            [ $# -ge 2 ] || usage
            job_options+=("$1=$2")
            join_options+=("$1=$2")
            shift 2
            ;;
        --gpu) job_options+=(--gres=gpu:1); shift ;;
        --) break ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -ge 4 ] || usage
is_count "$1" || { echo "$name: FRAMES must be a whole number above 0: $1" >&2; exit 2; }
is_count "$2" || { echo "$name: CHUNK must be a whole number above 0: $2" >&2; exit 2; }
frames=$((10#$1)) chunk=$((10#$2)) outdir=$3 video=$4
shift 4
render_options=()
if [ $# -gt 0 ]; then
    [ "$1" = "--" ] || usage
    shift
    render_options=("$@")
fi
# The jobs start elsewhere: they need absolute paths.
case $outdir in /*) ;; *) outdir=$PWD/$outdir ;; esac
case $video in /*) ;; *) video=$PWD/$video ;; esac
mkdir -p "$outdir/logs"
tasks=$(((frames + chunk - 1) / chunk))

# sbatch hands the words after the script to it as they are, without a
# shell, so paths with spaces need no further quoting.
array=$(sbatch --parsable --job-name=vortigo --array="0-$((tasks - 1))" "${job_options[@]}" \
    --output="$outdir/logs/vortigo-%A_%a.log" "$0" --task "$frames" "$chunk" "$outdir" \
    "${render_options[@]}")
array=${array%%;*} # "ID;CLUSTER" on federated clusters
join=$(sbatch --parsable --job-name=vortigo-join --dependency="afterok:$array" \
    "${join_options[@]}" --output="$outdir/logs/vortigo-join-%j.log" \
    "$0" --join "$outdir" "$video" "${render_options[@]}")
echo "render array: job $array ($tasks tasks); join: job ${join%%;*}"
