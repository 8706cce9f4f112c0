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
# A name cut to fit would change meaning (clip.avi cut short becomes TGA
# stills); a still name holds %d or %0Nd and no other conversion.
deep=$(printf 'd%.0s' $(seq 200))
mkdir "$deep"
expect_code 2 --out "$deep/$(printf 'n%.0s' $(seq 60)).avi"
[ -z "$(ls "$deep")" ] || fail "a name too long was cut into TGA stills"
expect_code 2 --out 'bad%s.ppm'
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

"$render" --size 8x8 --frames 2 --out 'pad%03d.ppm'
[ -f pad000.ppm ] && [ -f pad001.ppm ] || fail "%03d did not number the stills"

# A picture never goes through a link or over a read-only file, and nothing
# is left beside it but the picture.
echo kept >victim.txt
ln -s victim.txt linked.png
"$render" --size 64x48 --out linked.png
[ ! -L linked.png ] && [ "$(cat victim.txt)" = kept ] || fail "a picture wrote through a link"
[ "$(identify -format '%w %h' linked.png)" = "64 48" ] || fail "linked.png is not 64x48"
echo old >locked.ppm
chmod 444 locked.ppm
expect_code 1 --size 8x8 --out locked.ppm
grep -q 'cannot write locked.ppm: Permission denied' err.txt || fail "read-only: $(cat err.txt)"
[ "$(cat locked.ppm)" = old ] || fail "a read-only picture was overwritten"
[ -z "$(ls -A | grep vortigo-tmp)" ] || fail "a temporary file was left: $(ls -A)"

# The options that name project fields win over the loaded project.
printf 'Cobblewick_Vortigo_File\nWIDTH=640\nHEIGHT=480\nSUPERSAMPLE=0\n' >scene.vort
"$render" scene.vort --size 64x48 --super-sample --describe >described.txt
grep -qx WIDTH=64 described.txt && grep -qx SUPERSAMPLE=1 described.txt ||
    fail "--describe does not show the options over the project"
"$render" scene.vort --size 64x48 --out scene.ppm
[ "$(identify -format '%w %h' scene.ppm)" = "64 48" ] || fail "the project's size won over --size"

# Every input is checked before the first frame, with the file named.
expect_code 1 missing.vort --out x.ppm
grep -q 'Could not open file: missing.vort' err.txt || fail "project not named: $(cat err.txt)"
expect_code 1 scene.vort --flight missing.vorn --out x.ppm
grep -q 'Could not read from file: missing.vorn' err.txt || fail "flight not named: $(cat err.txt)"
printf 'Cobblewick_Vortigo_File\nBGIMAGE1=6\nbg.jpg\n' >bg.vort
expect_code 1 bg.vort --out x.ppm
grep -q 'bg.jpg: No such file' err.txt || fail "background not named: $(cat err.txt)"
expect_code 1 --size 64x48 --frames 2 --out clip.avi --sound missing.wav
grep -q 'missing.wav' err.txt && [ ! -e clip.AVI ] || fail "the sound was checked late: $(cat err.txt)"
# The project's recording is one record: its step replay ends with frame 2.
expect_code 1 --size 8x8 --replay step --from 5 --to 6 --out 'past%d.ppm'
[ -z "$(ls past*.ppm 2>/dev/null)" ] || fail "a range past the recording wrote frames"
# An odd width is encoded, or refused by rule before the first frame.
if "$render" --size 63x48 --out odd.avi --codec h264 --quiet >out.txt 2>err.txt; then
    [ "$(ffprobe -v error -select_streams v:0 -show_entries stream=width -of csv=p=0 odd.AVI)" = 63 ] ||
        fail "odd H.264 file"
    rm odd.AVI
elif ! grep -q 'no h264 encoder' err.txt; then
    grep -q 'even frame width' err.txt && [ ! -e odd.AVI ] || fail "odd H.264: $(cat err.txt)"
fi
[ -z "$(ls ./*.ppm ./*.AVI 2>/dev/null | grep -v -e full -e pad -e one -e scene -e locked)" ] ||
    fail "a refused run wrote output"

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
