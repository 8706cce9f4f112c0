#!/bin/bash
# vortigo-render with named shader parameters: --describe lists them with the
# project's values, --param sets them (checked before the first frame), and
# the picture shows the values.  Usage: test_batch_params.sh EXE
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
name_entry() { printf '%s=%d\n%s\n' "$1" "${#2}" "$2"; }

mkdir "scene folder"
cd "scene folder"
printf 'void main() { gl_Position = gl_Vertex; }\n' >a.vert
cat >a.frag <<'GLSL'
uniform vec3 tint; // @param colour 1,0,0 "Tint"
uniform float gain; // @param 0 1 1 "Gain"
uniform float power; // @param 9 1 2 "refused: the range is upside down"
void main() { gl_FragColor = vec4(tint * gain, 1.0); }
GLSL
: >a.anim
{
    printf 'Cobblewick_Vortigo_File\nWIDTH=16\nHEIGHT=16\n'
    name_entry VSFILE "$PWD/a.vert"
    name_entry FSFILE "$PWD/a.frag"
    name_entry ASFILE "$PWD/a.anim"
    printf 'PARAM1.gain=0.5\nPARAM1.gone=3\n'
} >scene.vort
cd ..
project="scene folder/scene.vort"

expect_code 0 "$project" --describe
grep -q 'layer 1 fragment shader, line 3: the minimum 9 must be below the maximum 1' err.txt ||
    fail "the refused annotation is not named: $(cat err.txt)"
grep -qx 'PARAM1.gain=0.5' out.txt || fail "describe: $(grep PARAM out.txt)"
grep -qx 'PARAM1.tint=1,0,0' out.txt || fail "describe: no tint"
! grep -q 'power\|gone' out.txt || fail "describe lists what no shader declares"
expect_code 0 "$project" --describe --param 1.gain=0.25 --param 1.tint=0,1,0.5
grep -qx 'PARAM1.gain=0.25' out.txt && grep -qx 'PARAM1.tint=0,1,0.5' out.txt ||
    fail "--param not shown: $(grep PARAM out.txt)"

# The picture: the project's gain, then the options' values.
pixel() { convert "$1" -format '%[fx:int(255*p{4,4}.r+0.5)],%[fx:int(255*p{4,4}.g+0.5)],%[fx:int(255*p{4,4}.b+0.5)]' info:; }
expect_code 0 "$project" --out plain.ppm
[[ "$(pixel plain.ppm)" =~ ^12[78],0,0$ ]] || fail "project values: $(pixel plain.ppm)"
expect_code 0 "$project" --param 1.tint=0,1,0 --param 1.gain=1 --out set.ppm
[ "$(pixel set.ppm)" = "0,255,0" ] || fail "--param values: $(pixel set.ppm)"

# Checked before the first frame: a name no shader declares, a wrong count
# (exit 1, naming it); malformed options (exit 2).
expect_code 1 "$project" --param 1.power=2 --out x.ppm
grep -q 'layer 1 declares no parameter power' err.txt || fail "$(cat err.txt)"
expect_code 1 "$project" --param 1.tint=1 --out x.ppm
grep -q 'tint of layer 1 takes 3 values, not 1' err.txt || fail "$(cat err.txt)"
expect_code 1 "$project" --param 2.gain=1 --out x.ppm
[ ! -e x.ppm ] || fail "a refused --param rendered"
expect_code 2 "$project" --param 5.gain=1
expect_code 2 "$project" --param gain=1
expect_code 2 "$project" --param 1.gain=abc
expect_code 2 "$project" --param 1.bad-name=1
echo "batch parameters: ok"
