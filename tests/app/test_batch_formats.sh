#!/bin/bash
# vortigo-render's options as GNU tools read them, and its videos through
# FFmpeg's containers, judged by ffprobe.
set -u
render="$1"
work=$(mktemp -d /tmp/vortigo-formats-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless

# --name=value, and -- before a project whose name starts with a dash.
printf 'Cobblewick_Vortigo_File\nWIDTH=640\nHEIGHT=480\n' >"$work/-scene.vort"
(cd "$work" && "$render" --size=40x30 --fps=12 --describe -- -scene.vort) >"$work/log" 2>&1
grep -qx 'WIDTH=40' "$work/log" && grep -qx 'FRAMESPERSEC=12' "$work/log" &&
    pass "--size=40x30 --fps=12 --describe -- -scene.vort" ||
    fail "--opt=value and --: $(cat "$work/log")"
"$render" --fly=1 >/dev/null 2>"$work/err"
code=$?
[ $code -eq 2 ] && grep -q -- "--fly takes no value" "$work/err" && pass "--fly=1 is refused" ||
    fail "--fly=1: exit $code, said: $(cat "$work/err")"

exit $((failures > 0))
