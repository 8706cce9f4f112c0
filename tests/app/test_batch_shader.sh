#!/bin/bash
# vortigo-render --shader: an image shader (mainImage) rendered without and
# with a project; iTime, iFrame and iResolution read back from the frames by
# ImageMagick, ranges against a full run, channel pictures the right way up,
# and the texts it refuses.  Usage: test_batch_shader.sh EXE
set -euo pipefail
render=$1
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
# "R G B" of pixel X,Y (from the top left) of a picture.
rgb() { convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | tail -1 |
        sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'; }
near() { # WHAT GOT WANT: each channel within 1
    local -a got=($2) want=($3)
    for i in 0 1 2; do
        local d=$(( got[i] - want[i] ))
        [ "${d#-}" -le 1 ] || fail "$1: got $2, want $3"
    done
}

# Red: iTime / 4; green: iFrame; blue: the frame's width.
cat >inputs.glsl <<'EOF'
#version 300 es
precision highp float;
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    fragColor = vec4(iTime / 4.0, float(iFrame) / 255.0, iResolution.x / 255.0, 1.0);
}
EOF
"$render" --shader inputs.glsl --size 16x8 --fps 25 --frames 4 --out 'f%d.ppm'
near "frame 0 starts at iTime 0" "$(rgb f0.ppm 3 3)" "0 0 16"
near "frame 3" "$(rgb f3.ppm 3 3)" "$(( (3 * 255 + 50) / 100 )) 3 16"

# --time sets frame 0's iTime; a range counts iFrame from the run's start
# and draws its frames as the full run does.
"$render" --shader inputs.glsl --size 16x8 --fps 25 --time 2 --frames 4 --out 'full%d.ppm'
"$render" --shader inputs.glsl --size 16x8 --fps 25 --time 2 --from 2 --to 3 --out 'part%d.ppm'
near "iTime 2 + 2/25 at frame 2" "$(rgb part2.ppm 0 0)" "133 2 16"
for i in 2 3; do cmp -s "full$i.ppm" "part$i.ppm" || fail "range frame $i differs from the full run"; done
# The capture path takes the same frames.
"$render" --shader inputs.glsl --size 16x8 --frames 3 --codec raw --out clip.avi --quiet
[ "$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 clip.AVI)" = 3 ] ||
    fail "the capture of a shader does not hold 3 frames"

# A picture through iChannel0 at one texel a pixel, upright: the same
# picture comes out, from --channel0 and from a project's background.
convert -size 16x8 gradient:red-blue -type TrueColor bmp3:bg.bmp
cat >channel.glsl <<'EOF'
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    fragColor = texture(iChannel0, fragCoord / iChannelResolution[0].xy);
}
EOF
"$render" --shader channel.glsl --channel0 bg.bmp --size 16x8 --out channel.ppm
[ "$(compare -metric AE channel.ppm bg.bmp null: 2>&1)" = 0 ] || fail "--channel0 is not shown upright"
printf 'Cobblewick_Vortigo_File\nBGIMAGE1=6\nbg.bmp\n' >scene.vort
"$render" scene.vort --shader channel.glsl --size 16x8 --out scene.ppm
[ "$(compare -metric AE scene.ppm bg.bmp null: 2>&1)" = 0 ] || fail "the project's background is not iChannel0"

# Refusals: a text of another form (exit 2), a file that cannot be read or a
# channel picture that cannot be loaded (exit 1), a bad time (exit 2).
printf 'void main() { gl_FragColor = vec4(1.0); }\n' >plain.frag
expect_code 2 --shader plain.frag --out x.ppm
grep -q 'no image shader' err.txt || fail "the refusal does not say why: $(cat err.txt)"
printf 'void mainImage(out vec4 c, in vec2 p) { c = vec4(1.0); }\nvoid main() {}\n' >both.glsl
expect_code 2 --shader both.glsl --out x.ppm
expect_code 1 --shader missing.glsl --out x.ppm
expect_code 1 --shader channel.glsl --channel1 missing.jpg --out x.ppm
expect_code 2 --shader channel.glsl --time soon
# An error in the text: the compiler's message on the text's own line.
printf 'void mainImage(out vec4 c, in vec2 p) {\n  c = vec4(1.0);\n  oops;\n}\n' >broken.glsl
code=0
"$render" --shader broken.glsl --out x.ppm 2>err.txt || code=$?
[ "$code" = 1 ] && grep -q '^vortigo-render: Layer 1 Fragment Compilation Error: 0:3(' err.txt ||
    fail "the error is not on line 3 (exit $code): $(cat err.txt)"
[ ! -e x.ppm ] || fail "a refused run wrote a picture"
echo "batch_shader: ok"
