#!/bin/bash
# vortigo-render posters: tiles against the single frame, read back by
# ImageMagick; a farm's ranges joined; bad sizes; a signal leaves no file.
# Usage: test_batch_poster.sh EXE SOURCE_DIR
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
}
nothing_written() { # NAME: neither the picture nor its temporary file
    [ ! -e "$1" ] && [ ! -e ".$1.vortigo-tmp" ] || fail "$1 or its temporary file was left: $(ls -A)"
}

expect_code 2 --size 0x512 --out p.png
expect_code 2 --size 1000001x512 --out p.png
expect_code 2 --size 50000x50000 --out big.png
grep -q 'write NAME.tif instead' err.txt || fail "a PNG too large does not ask for TIFF: $(cat err.txt)"
expect_code 1 --size 1000000x1000000 --out huge.tif
grep -q 'may take up to 3000000 MB, and .* has .* MB free' err.txt ||
    fail "the disk check does not name both numbers: $(cat err.txt)"
nothing_written huge.tif
expect_code 2 --size 512x256 --tiles-from 3 --out p.png

# Tiles of 200 (the last column and row partial) against one frame, with
# both CPU filters; the TIFF is a BigTIFF.
expect_code 0 --size 512x256 --super-sample --despeckle --out single.ppm
expect_code 0 --size 512x256 --super-sample --despeckle --tile 200 --out tiled.tif --quiet
[ "$(identify -format '%m %w %h' tiled.tif)" = "TIFF64 512 256" ] || fail "$(identify tiled.tif)"
[ "$(compare -metric AE single.ppm tiled.tif null: 2>&1)" = 0 ] || fail "tiles differ from the frame"
[ "$(convert tiled.tif -format '%[pixel:p{300,100}]' info:)" = \
  "$(convert single.ppm -format '%[pixel:p{300,100}]' info:)" ] || fail "pixel probe differs"

# An image shader's fragCoord and iResolution are the whole picture's in
# every tile.
cat > coords.glsl <<'GLSL'
void mainImage(out vec4 c, in vec2 p) {
    c = vec4(fract(p.x / 37.0), fract(p.y / 23.0), p.x / iResolution.x, 1.0);
}
GLSL
expect_code 0 --shader coords.glsl --size 512x256 --out single.ppm
expect_code 0 --shader coords.glsl --size 512x256 --tile 200 --out tiled.tif --quiet
[ "$(compare -metric AE single.ppm tiled.tif null: 2>&1)" = 0 ] || fail "image shader tiles differ"

# Two machines render halves of the grid; --join puts them together.
expect_code 0 --size 512x256 --tile 200 --tiles-from 0 --tiles-to 2 --out farm.png
expect_code 0 --size 512x256 --tile 200 --tiles-from 3 --tiles-to 5 --out farm.png
nothing_written farm.png
expect_code 0 --join --size 512x256 --out farm.png
expect_code 0 --size 512x256 --tile 200 --out whole.png
[ "$(compare -metric AE farm.png whole.png null: 2>&1)" = 0 ] || fail "the joined poster differs"
# The GNU parallel recipe makes the same poster, in a folder with a space.
mkdir "farm folder"
VORTIGO_RENDER=$render bash "$source/contrib/farm/poster_parallel.sh" 512x256 200 \
    "farm folder/recipe.png" -- -j2
[ "$(compare -metric AE "farm folder/recipe.png" whole.png null: 2>&1)" = 0 ] ||
    fail "the recipe's poster differs"
rm farm.png.tile00004.ppm
expect_code 1 --join --size 512x256 --out farm2.png
nothing_written farm2.png

# Deep stills: 16 bits a channel in one frame, in farm tiles joined, and in
# OpenEXR as FFmpeg reads it.
expect_code 2 --depth 12 --out d.png
expect_code 2 --depth 16 --out d.avi
expect_code 2 --depth 16 --out 'd%04d.png'
expect_code 2 --depth 8 --out d.exr
expect_code 0 --depth 16 --size 512x256 --super-sample --despeckle --out deep.png --quiet
[ "$(identify -format '%z %w %h' deep.png)" = "16 512 256" ] || fail "$(identify deep.png)"
expect_code 0 --depth 16 --size 512x256 --super-sample --despeckle --tile 200 \
    --tiles-from 0 --tiles-to 5 --out deepfarm.tif
expect_code 0 --join --size 512x256 --out deepfarm.tif
[ "$(identify -format '%z' deepfarm.tif)" = 16 ] || fail "the joined poster lost its depth"
[ "$(compare -metric AE deep.png deepfarm.tif null: 2>&1)" = 0 ] || fail "deep tiles differ"
expect_code 0 --size 512x256 --super-sample --despeckle --out deep.exr --quiet
[ "$(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 deep.exr)" = \
  "exr,512,256" ] || fail "ffprobe does not read the EXR"
ffmpeg -v error -apply_trc iec61966_2_1 -i deep.exr -pix_fmt rgb48be -y back.png
off=$( (compare -metric PAE back.png deep.png null: 2>&1 || true) | sed 's/.*(\(.*\))/\1/')
awk -v d="$off" 'BEGIN { exit !(d < 0.002) }' || fail "the EXR is off the 16-bit frame by $off"

# SIGTERM in the middle of a poster: exit 143, and no file at all.
"$render" --size 4096x4096 --tile 128 --out stopped.png 2>err.txt &
pid=$!
for _ in $(seq 100); do [ -e .stopped.png.vortigo-tmp ] && break; sleep 0.1; done
[ -e .stopped.png.vortigo-tmp ] || fail "the poster never started"
kill -TERM "$pid"
code=0
wait "$pid" || code=$?
[ "$code" -eq 143 ] || fail "a stopped poster exited $code: $(cat err.txt)"
grep -q 'stopped.png is not written' err.txt || fail "$(cat err.txt)"
nothing_written stopped.png
echo "poster tests passed"
