#!/bin/bash
# Every example project under examples/ renders in the batch renderer, run
# from the source tree as the README shows it: its shaders compile, its
# script runs, its recorded flight replays and moves the picture, and the
# picture is not one colour. Each render has a time limit (a hung or
# endlessly slow shader fails instead of stalling the suite).
# Usage: test_examples.sh EXE SOURCE_DIR
set -euo pipefail
render=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless
fail() { echo "FAIL: $*" >&2; exit 1; }

cd "$source"
count=0
for folder in examples/*/; do
    name=$(basename "$folder")
    project=examples/$name/$name.vort
    [ -f "$project" ] || fail "$folder has no $name.vort"
    # The project names its own files, found beside it.
    "$render" "$project" --describe >"$work/describe.txt" 2>&1 || fail "$name: $(cat "$work/describe.txt")"
    for kind in vert frag anim vorn; do
        grep -q "$name\.$kind\$" "$work/describe.txt" || fail "$name does not name its own $name.$kind"
    done
    flight=examples/$name/$name.vorn
    records=$((($(stat -c %s "$flight") - 1) / 48))
    [ "$(head -c1 "$flight" | od -An -tu1 | tr -d ' ')" = 12 ] && [ "$records" -ge 25 ] ||
        fail "$flight is not a flight of 12-float records long enough to show anything"

    rm -f "$work"/f*.png
    timeout 120 "$render" "$project" --size 96x54 --replay step --frames 3 --quiet \
        --out "$work/f%d.png" 2>"$work/err.txt" || fail "$name did not render: $(cat "$work/err.txt")"
    for i in 0 2; do
        colours=$(identify -format '%k' "$work/f$i.png")
        [ "$colours" -ge 16 ] || fail "$name frame $i has only $colours colours"
    done
    # The flight's first records differ, so the frames must too.
    cmp -s "$work/f0.png" "$work/f2.png" && fail "$name: replaying the flight did not change the picture"
    count=$((count + 1))
done
[ "$count" -ge 10 ] || fail "only $count examples"

# A project whose shader does not compile fails the same run: the check above
# would notice a broken example.
cp -r examples/mandelbulb "$work/broken"
echo 'this is not GLSL' >>"$work/broken/mandelbulb.frag"
code=0
timeout 120 "$render" "$work/broken/mandelbulb.vort" --size 96x54 --quiet --out "$work/b.png" \
    2>/dev/null || code=$?
[ "$code" -eq 1 ] || fail "a broken example shader rendered (exit $code)"
echo "all $count examples render"
