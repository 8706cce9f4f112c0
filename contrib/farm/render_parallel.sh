#!/bin/bash
# Renders an animation in frame ranges with GNU parallel, on this machine's
# cores or on several nodes, and joins the stills into a video.
#
#   vortigo-farm-parallel [--resume] FRAMES CHUNK OUTDIR [VIDEO]
#                         [-- PARALLEL_OPTIONS...] [-- RENDER_OPTIONS...]
#
#   FRAMES    frames in the animation (0 to FRAMES-1)
#   CHUNK     frames per job
#   OUTDIR    folder for the stills (frame%d.ppm, numbered by frame index);
#             on several nodes it must be a shared folder (NFS and the like)
#   VIDEO     optional: the stills joined with the ffmpeg tool, at the rate
#             they were rendered at (--fps in the render options, else the
#             project's rate, else 25)
#   --resume  skip the ranges whose stills are all there already
# Examples:
#   vortigo-farm-parallel 250 50 stills out.mp4 -- -j2 -- project.vort --fly --size 1280x720
#   vortigo-farm-parallel 250 25 /shared/stills out.mp4 -- --sshlogin 8/node1,8/node2 -- \
#       /shared/project.vort --replay time
# Every node needs vortigo-render on its PATH (VORTIGO_RENDER overrides) and
# the project's files at the same path. Frames are a function of their index
# for --replay step, --replay time and --fly; a script that keeps state from
# frame to frame needs --warm-up in the render options.
# A failed range does not stop the others: the failed ranges are listed at
# the end, the video is not joined, and the exit code is 1; run again with
# --resume to render only what is missing.
set -euo pipefail
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
    # The comment above is the help.
    sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0"
    exit 0
fi

usage() {
    echo "usage: ${0##*/} [--resume] FRAMES CHUNK OUTDIR [VIDEO] [-- PARALLEL_OPTIONS...] [-- RENDER_OPTIONS...]" >&2
    exit 2
}
is_count() { [[ $1 =~ ^[0-9]+$ ]] && [ "$((10#$1))" -gt 0 ]; }

resume=0
if [ "${1:-}" = --resume ]; then resume=1; shift; fi
[ $# -ge 3 ] || usage
is_count "$1" || { echo "${0##*/}: FRAMES must be a whole number above 0: $1" >&2; exit 2; }
is_count "$2" || { echo "${0##*/}: CHUNK must be a whole number above 0: $2" >&2; exit 2; }
frames=$((10#$1)) chunk=$((10#$2)) outdir=$3
shift 3
video=
if [ $# -gt 0 ] && [ "$1" != "--" ]; then video=$1; shift; fi
[ $# -eq 0 ] || [ "$1" = "--" ] || usage
parallel_options=() render_options=()
if [ $# -gt 0 ]; then
    shift
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do parallel_options+=("$1"); shift; done
fi
if [ $# -gt 0 ] && [ "$1" = "--" ]; then shift; render_options=("$@"); fi
render=${VORTIGO_RENDER:-vortigo-render}
mkdir -p "$outdir"

# The rate the frames are rendered at: --fps, else the project's, else 25.
frame_rate() {
    local rate= project= i
    for ((i = 0; i < ${#render_options[@]}; i++)); do
        case ${render_options[i]} in
            --fps) rate=${render_options[i + 1]:-} ;;
            --fps=*) rate=${render_options[i]#--fps=} ;;
            *.vort | *.VORT) project=${render_options[i]} ;;
        esac
    done
    if [ -z "$rate" ] && [ -n "$project" ]; then
        rate=$("$render" "$project" --describe | sed -n 's/^FRAMESPERSEC=//p')
    fi
    echo "${rate:-25}"
}

range_done() {
    local f
    for ((f = $1; f <= $2; f++)); do [ -s "$outdir/frame$f.ppm" ] || return 1; done
}

ranges=()
for ((from = 0; from < frames; from += chunk)); do
    to=$((from + chunk - 1))
    [ $to -ge "$frames" ] && to=$((frames - 1))
    if [ $resume = 1 ] && range_done "$from" "$to"; then
        echo "frames $from-$to are there already" >&2
        continue
    fi
    ranges+=("$from $to")
done

joblog=$(mktemp)
trap 'rm -f "$joblog"' EXIT
if [ ${#ranges[@]} -gt 0 ]; then
    # -q quotes every word of the command, so paths with spaces (and on
    # remote nodes, shell characters) arrive as they were given.
    printf '%s\n' "${ranges[@]}" |
        parallel -q --halt never --joblog "$joblog" --colsep ' ' "${parallel_options[@]}" \
            "$render" "${render_options[@]}" --quiet --from {1} --to {2} \
            --out "$outdir/frame%d.ppm" || true
fi

# The job log has one line per range: Seq Host Starttime JobRuntime Send
# Receive Exitval Signal Command. Seq counts the input lines from 1.
failed=()
declare -A finished=()
while IFS=$'\t' read -r seq _ _ _ _ _ exitval signal _; do
    [[ $seq =~ ^[0-9]+$ ]] || continue
    finished[$seq]=1
    if [ "$exitval" != 0 ] || [ "$signal" != 0 ]; then failed+=("${ranges[seq - 1]/ /-}"); fi
done <"$joblog"
for ((i = 1; i <= ${#ranges[@]}; i++)); do
    [ -n "${finished[$i]:-}" ] || failed+=("${ranges[i - 1]/ /-}")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "${0##*/}: these frame ranges failed: ${failed[*]}; run again with --resume to render them" >&2
    exit 1
fi

if [ -n "$video" ]; then
    rate=$(frame_rate)
    ffmpeg -loglevel error -y -framerate "$rate" -start_number 0 -i "$outdir/frame%d.ppm" \
        -pix_fmt yuv420p "$video"
fi
