#!/bin/bash
# vortigo-render against scripts and conditions that used to spoil its
# output: a script that prints while frames go to standard output, a script
# that faults part-way, SIGTERM and SIGINT in the middle of a long run (and
# a second SIGTERM while the first one's exit path runs), and
# a start-up failure under an address-space limit.
# Usage: test_batch_hostile.sh EXE SOURCE_DIR
set -euo pipefail
render=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless
fail() { echo "FAIL: $*" >&2; exit 1; }

cp "$source/resources/defaults/default_vertex_shader.vert" scene.vert
cp "$source/resources/defaults/default_fragment_shader.frag" scene.frag
project() { # SCRIPT PROJECT
    entry() { printf '%s=%d\n%s\n' "$1" "${#2}" "$2"; }
    { echo Cobblewick_Vortigo_File; entry VSFILE scene.vert; entry FSFILE scene.frag
      entry ASFILE "$1"; } >"$2"
}

# Whatever a script prints goes to standard error, never into the frames.
cat >noisy.anim <<'ANIM'
#include <stdio.h>
void udSetup(void *t, float *u, float *a, int *f, char *l) { printf("setup\n"); fflush(stdout); }
void udPre(unsigned char *b, float *fl) { printf("pre\n"); fflush(stdout); }
void udPost(void) { printf("post\n"); fflush(stdout); }
void udPostFrame(unsigned char *p) { printf("frame\n"); fflush(stdout); }
void udShutdown(void) { printf("shutdown\n"); fflush(stdout); }
ANIM
project noisy.anim noisy.vort
"$render" noisy.vort --size 16x8 --frames 3 --out - >raw.bgr 2>err.txt
[ "$(stat -c %s raw.bgr)" -eq $((16 * 8 * 3 * 3)) ] ||
    fail "the script's printf reached the frames: $(stat -c %s raw.bgr) bytes"
grep -qx shutdown err.txt || fail "the script's output is lost: $(cat err.txt)"

# A fault ends the run at once: the frames before it are written, not the
# one it spoiled nor any after it, and the exit code is 1.
cat >fault.anim <<'ANIM'
#include <vortigo.h>
static int *info, calls;
void udSetup(void *t, float *u, float *a, int *f, char *l) { info = f; }
void udPre(unsigned char *b, float *fl)
{
    if (info[FI_LAYER] == 1 && info[FI_PASS] == 0 && calls++ == 5) *(volatile int *)0 = 1;
}
ANIM
project fault.anim fault.vort
code=0
"$render" fault.vort --size 16x8 --frames 20 --out 'f%d.ppm' 2>err.txt || code=$?
[ $code -eq 1 ] && grep -q 'udPre caused an exception' err.txt ||
    fail "a fault at frame 5: exit $code, said: $(cat err.txt)"
[ "$(ls f*.ppm | sort -V | tr '\n' ' ')" = "f0.ppm f1.ppm f2.ppm f3.ppm f4.ppm " ] ||
    fail "frames written around a fault at frame 5: $(ls f*.ppm | tr '\n' ' ')"

# SIGTERM: the frame in hand is finished, the AVI closed with its index and
# sound track, exit 143. SIGINT with a still series: complete stills, 130.
# The script marks its tenth frame, so the signal comes mid-run.
cat >tenth.anim <<'ANIM'
#include <stdio.h>
static int frames;
void udPostFrame(unsigned char *p)
{
    FILE *mark;
    if (++frames == 10 && (mark = fopen("tenth", "w"))) fclose(mark);
}
ANIM
project tenth.anim tenth.vort
ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=2 -ac 2 -y tone.wav
"$render" tenth.vort --size 64x48 --frames 1000000 --fly --out clip.avi --sound tone.wav \
    --quiet 2>err.txt &
pid=$!
until [ -e tenth ] || ! kill -0 $pid 2>/dev/null; do sleep 0.1; done
kill -TERM $pid
code=0
wait $pid || code=$?
[ $code -eq 143 ] && grep -q 'stopped by SIGTERM' err.txt ||
    fail "SIGTERM: exit $code, said: $(cat err.txt)"
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 clip.AVI | tr '\n' ' ')
[ "$streams" = "video audio " ] || fail "the AVI cut by SIGTERM holds '$streams'"
written=$(sed -n 's/.*after \([0-9]*\) frames/\1/p' err.txt)
[ "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 clip.AVI)" = "$written" ] || fail "the AVI does not hold the $written frames"

rm tenth
# Job control: a background job of a script would start with SIGINT ignored.
set -m
"$render" tenth.vort --size 64x48 --frames 1000000 --fly --out 's%d.ppm' --quiet 2>err.txt &
pid=$!
set +m
until [ -e tenth ] || ! kill -0 $pid 2>/dev/null; do sleep 0.1; done
kill -INT $pid
code=0
wait $pid || code=$?
[ $code -eq 130 ] && grep -q 'stopped by SIGINT' err.txt ||
    fail "SIGINT: exit $code, said: $(cat err.txt)"
written=$(sed -n 's/.*after \([0-9]*\) frames/\1/p' err.txt)
[ "$(ls s*.ppm | wc -l)" = "$written" ] && [ -e "s$((written - 1)).ppm" ] ||
    fail "$written frames said, $(ls s*.ppm | wc -l) stills written"
for still in s*.ppm; do
    [ "$(stat -c %s "$still")" -eq $((13 + 64 * 48 * 3)) ] || fail "$still is not whole"
done

# A second signal ends the process at once: here while the first one's
# exit path waits in the script's udShutdown.
cat >slow.anim <<'ANIM'
#include <stdio.h>
#include <unistd.h>
void udShutdown(void)
{
    FILE *mark = fopen("shutting", "w");
    if (mark) fclose(mark);
    sleep(60);
}
ANIM
project slow.anim slow.vort
"$render" slow.vort --size 16x8 --frames 1000000 --out 'slow%d.ppm' --quiet 2>err.txt &
pid=$!
until [ -e slow3.ppm ] || ! kill -0 $pid 2>/dev/null; do sleep 0.1; done
kill -TERM $pid
until [ -e shutting ] || ! kill -0 $pid 2>/dev/null; do sleep 0.1; done
kill -TERM $pid
code=0
wait $pid || code=$?
[ -e shutting ] && [ $code -eq 143 ] && ! grep -q 'stopped by' err.txt ||
    fail "two SIGTERMs: exit $code, udShutdown $([ -e shutting ] || echo not) reached, said: $(cat err.txt)"

# Under an address-space limit the script heap cannot be had (or only a
# smaller one): the run renders or says why at once, and never waits out
# its ten-minute time-out (the guard below only catches that hang).
code=0
(ulimit -v 600000 && exec timeout 120 "$render" --size 64x48 --out limited.ppm) 2>err.txt || code=$?
[ $code -ne 124 ] && ! grep -q 'timed out' err.txt ||
    fail "a start-up failure was not seen: exit $code, said: $(cat err.txt)"
[ $code -eq 0 ] && [ -s limited.ppm ] || [ $code -eq 1 ] || fail "under ulimit -v: exit $code"
echo "batch hostile test passed"
