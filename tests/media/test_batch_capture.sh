#!/bin/bash
# vortigo-render writes through the capture writer: split AVI files that
# ffprobe reads, TGA stills, and exit code 1 with a message when the
# capture fails.
set -u
render="$1"
work=$(mktemp -d /tmp/vortigo-batch-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless

probe() {
    ffprobe -v error -select_streams v:0 -count_packets -show_entries \
        stream=codec_name,width,height,r_frame_rate,nb_read_packets -of csv=p=0 "$1" 2>&1
}

"$render" --size 64x48 --frames 5 --out "$work/clip.avi" --codec ffv1 --fps 12 --max-frames 2 \
    >"$work/out.log" 2>&1 || fail "split capture exited with $?: $(cat "$work/out.log")"
[ "$(probe "$work/clip.AVI")" = "ffv1,64,48,12/1,3" ] && [ "$(probe "$work/clip1.AVI")" = "ffv1,64,48,12/1,2" ] &&
    pass "--max-frames 2 splits 5 frames into 3 + 2" ||
    fail "split files: '$(probe "$work/clip.AVI")' '$(probe "$work/clip1.AVI")'"

"$render" --size 64x48 --frames 3 --out "$work/frames.tga" --motion-blur >/dev/null 2>&1 &&
    [ "$(stat -c %s "$work/frames.tga2.tga")" = $((18 + 64 * 48 * 3)) ] &&
    pass "--out frames.tga writes numbered stills" || fail "no TGA stills"

"$render" --size 64x48 --frames 2 --out "$work/zero.avi" --fps 0 >/dev/null 2>"$work/err.log"
code=$?
[ $code -eq 2 ] && grep -q -- "--fps" "$work/err.log" && pass "--fps 0 is a usage error" ||
    fail "--fps 0: exit $code, said: $(cat "$work/err.log")"

"$render" --size 64x48 --frames 2 --out "$work/no/dir/x.avi" >/dev/null 2>"$work/err.log"
code=$?
[ $code -eq 2 ] && grep -q "cannot write into" "$work/err.log" &&
    pass "an unwritable path is refused before anything is rendered" ||
    fail "unwritable path: exit $code, said: $(cat "$work/err.log")"

"$render" --out "$work/x.avi" --codec divx >/dev/null 2>&1
[ $? -eq 2 ] && pass "an unknown codec is a usage error" || fail "unknown codec accepted"
exit $((failures > 0))
