#!/bin/bash
# vortigo-render as scripts, pipes and render farms use it: option errors and
# exit codes, every output form read back by other tools, ranges against a
# full run, and the GNU parallel recipe.  Usage: test_batch_render.sh EXE SOURCE_DIR
set -euo pipefail
render=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless
fail() { echo "FAIL: $*" >&2; exit 1; }
expect_code() { # CODE ARGS...
    local want=$1; shift
    local got=0
    "$render" "$@" >out.txt 2>err.txt || got=$?
    [ "$got" -eq "$want" ] || fail "vortigo-render $* exited $got, not $want: $(cat err.txt)"
    [ "$want" -eq 0 ] || [ "$(wc -l <err.txt)" -eq 1 ] || fail "$*: not one line: $(cat err.txt)"
}

# Usage errors: one line on standard error, exit code 2, nothing rendered.
expect_code 2 --frames abc
expect_code 2 --frames 0
expect_code 2 --size 64by48
expect_code 2 --size 0x48
expect_code 2 --no-such-option
expect_code 2 --from 5
expect_code 2 --from 5 --to 4
expect_code 2 --replay sideways
expect_code 2 --out "$work/missing/folder/x.ppm"
expect_code 2 --out picture.xyz
[ -z "$(ls ./*.ppm 2>/dev/null)" ] || fail "an error run wrote a picture"
expect_code 0 --help
grep -q -- '--from K --to M' out.txt || fail "--help does not list --from"
expect_code 0 --version
grep -q '^vortigo-render [0-9]' out.txt || fail "--version"

# One picture, then a numbered series that ImageMagick reads.
"$render" --size 64x48 --out one.ppm
[ "$(identify -format '%w %h' one.ppm)" = "64 48" ] || fail "one.ppm is not 64x48"
"$render" --size 64x48 --frames 6 --fly --out 'full%d.ppm'
for i in 0 1 2 3 4 5; do [ -f "full$i.ppm" ] || fail "full$i.ppm missing"; done
cmp -s full0.ppm full5.ppm && fail "flying forward did not move the camera"

# PNG through FFmpeg's encoder: the same pixels as the PPM.
"$render" --size 64x48 --fly --from 5 --to 5 --out 'five%d.png'
compare -metric AE five5.png full5.ppm null: 2>ae.txt || fail "PNG differs from PPM: $(cat ae.txt)"

# Raw frames on standard output: the byte count, and the first frame is the
# first still (PPM is the same rows as RGB).
"$render" --size 64x48 --frames 6 --fly --out - >raw.bgr
[ "$(stat -c %s raw.bgr)" -eq $((64 * 48 * 3 * 6)) ] || fail "raw stream has the wrong length"
head -c $((64 * 48 * 3)) raw.bgr | convert -size 64x48 -depth 8 bgr:- rgb:first.rgb
tail -c $((64 * 48 * 3)) full0.ppm | cmp -s - first.rgb || fail "raw first frame differs from the still"
ffmpeg -loglevel error -f rawvideo -pix_fmt bgr24 -s 64x48 -r 25 -i raw.bgr -y piped.avi
[ "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 piped.avi)" = 6 ] || fail "ffmpeg did not read six frames from the pipe"

# A range gives the same bytes as the same frames of the full run, with and
# without warm-up.
"$render" --size 64x48 --from 3 --to 5 --fly --out 'range%d.ppm'
"$render" --size 64x48 --from 2 --to 3 --fly --warm-up --out 'warm%d.ppm'
for i in 3 4 5; do cmp -s "full$i.ppm" "range$i.ppm" || fail "frame $i of a range differs"; done
[ ! -e range2.ppm ] || fail "a range wrote a frame before --from"
for i in 2 3; do cmp -s "full$i.ppm" "warm$i.ppm" || fail "frame $i after warm-up differs"; done

# The render farm recipe: two ranges on two job slots, joined into a video.
VORTIGO_RENDER=$render bash "$source/contrib/farm/render_parallel.sh" 6 3 farm farm.mp4 \
    -- -j2 -- --size 64x48 --fly
for i in 0 1 2 3 4 5; do cmp -s "full$i.ppm" "farm/frame$i.ppm" || fail "farm frame $i differs"; done
[ "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 farm.mp4)" = 6 ] || fail "the joined video has not six frames"
echo "batch render test passed"
