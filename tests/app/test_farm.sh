#!/bin/bash
# The render farm recipes as a farm runs them, on this machine: GNU parallel
# for real, Slurm through a stand-in sbatch that runs each job at once. Paths
# hold spaces; a failed range is reported and resumed; the video is joined
# at the rate the frames were rendered at.  Usage: test_farm.sh RENDER SOURCE
set -euo pipefail
render=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless
parallel_recipe=$source/contrib/farm/render_parallel.sh
slurm_recipe=$source/contrib/farm/render_slurm.sh
frames_in() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
rate_of() { ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$1"; }

# Usage and numbers are checked before anything runs.
for recipe in "$parallel_recipe" "$slurm_recipe"; do
    code=0; out=$(bash "$recipe" 2>&1) || code=$?
    [ $code = 2 ] && [[ $out == usage:* ]] || fail "${recipe##*/} without arguments: $code $out"
    for bad in "0 3" "x 3" "6 -1" "6 2.5"; do
        # shellcheck disable=SC2086 # two words
        code=0; bash "$recipe" $bad out video.mp4 >/dev/null 2>&1 || code=$?
        [ $code = 2 ] || fail "${recipe##*/} took the numbers $bad"
    done
done

# The reference: the same frames from one run.
mkdir "full run"
"$render" --size 32x24 --frames 7 --fly --quiet --out "full run/frame%d.ppm"

# A stand-in renderer that fails on the range from 3 while a marker exists,
# and logs what it was asked, word by word.
mkdir "bin dir"
cat >"bin dir/render" <<STUB
#!/bin/bash
printf '%s|' "\$@" >>"$work/calls"; echo >>"$work/calls"
for ((i = 1; i <= \$#; i++)); do
    if [ "\${!i}" = --from ] && [ -e "$work/break" ]; then j=\$((i + 1)); [ "\${!j}" != 3 ] || exit 1; fi
done
exec "$render" "\$@"
STUB
chmod +x "bin dir/render"

# GNU parallel: spaces in every path, a failed range, then a resume.
touch break
code=0
VORTIGO_RENDER="$work/bin dir/render" bash "$parallel_recipe" 7 3 "out dir/still s" "my video.mp4" \
    -- -j2 -- --size 32x24 --fly --fps 12 2>err.txt || code=$?
[ $code = 1 ] || fail "a failed range did not fail the run ($code)"
grep -q 'failed: 3-5;' err.txt || fail "the failed range is not named: $(cat err.txt)"
[ -e "out dir/still s/frame6.ppm" ] || fail "the ranges after the failed one did not run"
[ ! -e "my video.mp4" ] || fail "a video was joined from missing frames"
rm break calls
VORTIGO_RENDER="$work/bin dir/render" bash "$parallel_recipe" --resume 7 3 "out dir/still s" \
    "my video.mp4" -- -j2 -- --size 32x24 --fly --fps 12 2>/dev/null
[ "$(wc -l <calls)" = 1 ] && grep -q -- '|--from|3|--to|5|' calls ||
    fail "resume rendered more than the missing range: $(cat calls)"
for i in 0 1 2 3 4 5 6; do
    cmp -s "full run/frame$i.ppm" "out dir/still s/frame$i.ppm" || fail "parallel frame $i differs"
done
[ "$(frames_in "my video.mp4")" = 7 ] || fail "the parallel video has not seven frames"
[ "$(rate_of "my video.mp4")" = 12/1 ] || fail "the parallel video is not at 12 frames/s"

# Slurm through a stand-in sbatch: array tasks one after the other, a job
# with afterok only when that job succeeded; each job runs a copy of the
# script, as slurmd does.
mkdir slurm
cat >"bin dir/sbatch" <<STUB
#!/bin/bash
dir="$work/slurm"
id=\$((\$(cat "\$dir/next" 2>/dev/null || echo 100) + 1)); echo \$id >"\$dir/next"
array= after=
while [[ \$1 == --* ]]; do
    echo "job \$id: \$1" >>"\$dir/options"
    case \$1 in --array=*) array=\${1#--array=} ;; --dependency=afterok:*) after=\${1#*:} ;; esac
    shift
done
cp "\$1" "\$dir/job\$id.sh"; shift
status=0
if [ -n "\$after" ] && [ "\$(cat "\$dir/status\$after")" != 0 ]; then status=never
elif [ -n "\$array" ]; then
    for ((t = \${array%-*}; t <= \${array#*-}; t++)); do
        SLURM_ARRAY_TASK_ID=\$t bash "\$dir/job\$id.sh" "\$@" || status=1
    done
else bash "\$dir/job\$id.sh" "\$@" || status=1
fi
echo \$status >"\$dir/status\$id"
echo "\$id;cluster"
STUB
chmod +x "bin dir/sbatch"
PATH="$work/bin dir:$PATH" VORTIGO_RENDER="$work/bin dir/render" bash "$slurm_recipe" \
    --time 0:10:00 --mem 1G --gpu 7 3 "slurm out" "slurm video.mp4" -- --size 32x24 --fly --fps 15 \
    >submitted.txt
grep -q 'job 101 (3 tasks); join: job 102' submitted.txt || fail "submission: $(cat submitted.txt)"
for option in --array=0-2 --time=0:10:00 --mem=1G --gres=gpu:1; do
    grep -qx "job 101: $option" slurm/options || fail "the array did not get $option"
done
grep -qx "job 102: --dependency=afterok:101" slurm/options || fail "the join does not wait for the array"
! grep -q "job 102: --gres" slurm/options || fail "the join asks for a GPU"
for i in 0 1 2 3 4 5 6; do
    cmp -s "full run/frame$i.ppm" "slurm out/frame$i.ppm" || fail "slurm frame $i differs"
done
[ "$(frames_in "slurm video.mp4")" = 7 ] || fail "the slurm video has not seven frames"
[ "$(rate_of "slurm video.mp4")" = 15/1 ] || fail "the slurm video is not at 15 frames/s"
echo "farm recipe test passed"
