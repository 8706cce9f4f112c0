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

# Where a stream starts and ends, in seconds: its first packet's time, its
# last packet's time plus duration.
stream_start() {
    ffprobe -v error -select_streams "$2" -show_entries packet=pts_time -of csv=p=0 "$1" |
        head -1 | tr -d ,
}
stream_end() {
    ffprobe -v error -select_streams "$2" -show_entries packet=pts_time,duration_time -of csv=p=0 \
        "$1" | awk -F, '$1 + $2 > end { end = $1 + $2 } END { printf "%.4f", end }'
}
near() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !((a - b) ^ 2 <= d ^ 2) }'; }

# Sound of several kinds, shorter and longer than the 12 frames (0.4004 s).
ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.2 -ar 22050 -c:a pcm_s24le \
    "$work/short24.wav"
ffmpeg -v error -f lavfi -i sine=frequency=330:duration=2 -ac 2 -ar 44100 "$work/long.flac"
ffmpeg -v error -f lavfi -i sine=frequency=550:duration=1 -c:a libmp3lame "$work/long.mp3"
ffmpeg -v error -f lavfi -i sine=frequency=660:duration=0.25 -c:a libvorbis "$work/short.ogg"

# Each container with its default codec, an exact 30000/1001 rate (29.97
# means it too), colour tags, and the sound as long as the video.
check_video() { # container sound rate "codec,pix_fmt,range,matrix,transfer,primaries" audio
    local out="$work/clip.$1"
    "$render" --size 64x48 --frames 12 --fly --fps "$3" --sound "$work/$2" --out "$out" \
        --quiet >"$work/log" 2>&1 || { fail "$1: exit $?: $(cat "$work/log")"; return; }
    local video audio vstart vend aend
    video=$(ffprobe -v error -select_streams v:0 -show_entries \
        stream=codec_name,pix_fmt,color_range,color_space,color_primaries,color_transfer,r_frame_rate \
        -of csv=p=0 "$out")
    audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 "$out")
    vstart=$(stream_start "$out" v:0)
    vend=$(stream_end "$out" v:0)
    aend=$(stream_end "$out" a:0)
    [ "$video" = "$4,30000/1001" ] || fail "$1 video: '$video', not '$4,30000/1001'"
    [ "$audio" = "$5" ] || fail "$1 sound: '$audio', not '$5'"
    near "$(awk -v a="$vstart" -v b="$vend" 'BEGIN { print b - a }')" 0.4004 0.002 ||
        fail "$1: the video lasts from $vstart s to $vend s, not 0.4004 s"
    # One audio frame (AAC 23 ms, Opus 20 ms) is the grain of the sound's end.
    near "$aend" "$vend" 0.03 || fail "$1: the sound ends at $aend s, the video at $vend s"
    [ -z "$(ls -A "$work" | grep vortigo-tmp)" ] || fail "$1: a temporary file was left"
    pass "$1: $video, $audio from $2, video $vend s, sound $aend s"
}
check_video mp4 short24.wav 30000/1001 "h264,yuv420p,tv,smpte170m,smpte170m,smpte170m" aac
check_video mkv long.flac 29.97 "ffv1,bgr0,pc,gbr,iec61966-2-1,bt709" opus
check_video mov long.mp3 30000/1001 "prores,yuv422p10le,tv,smpte170m,smpte170m,smpte170m" aac
check_video webm short.ogg 29.97 "vp9,yuv420p,tv,smpte170m,smpte170m,smpte170m" opus
ffprobe -v error -select_streams v:0 -show_entries stream=profile -of csv=p=0 "$work/clip.mov" |
    grep -qx HQ && pass "MOV holds ProRes 422 HQ" || fail "MOV is not ProRes 422 HQ"
# Fast start: the index comes before the frames.
moov=$(grep -abo moov "$work/clip.mp4" | head -1 | cut -d: -f1)
mdat=$(grep -abo mdat "$work/clip.mp4" | head -1 | cut -d: -f1)
[ -n "$moov" ] && [ -n "$mdat" ] && [ "$moov" -lt "$mdat" ] && pass "MP4 starts with its index" ||
    fail "MP4 index at $moov, frames at $mdat"

# A sound that is no WAV goes into an AVI as PCM.
"$render" --size 64x48 --frames 3 --sound "$work/long.flac" --out "$work/sound.avi" --quiet
[ "$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 \
    "$work/sound.AVI")" = pcm_s16le ] && pass "FLAC into AVI as PCM" || fail "no PCM in the AVI"

# The AVI header holds the exact rate too.
"$render" --size 64x48 --frames 3 --fps 30000/1001 --codec raw --out "$work/exact.avi" --quiet
[ "$(ffprobe -v error -show_entries stream=r_frame_rate -of csv=p=0 "$work/exact.AVI")" = \
    30000/1001 ] && pass "AVI at 30000/1001" || fail "AVI rate is not 30000/1001"

# Codecs: the listing, and refusals that name what the container takes.
"$render" --codec help >"$work/codecs" 2>&1 && grep -q '^  webm  vp9' "$work/codecs" &&
    pass "--codec help lists codecs" || fail "--codec help: $(cat "$work/codecs")"
"$render" --codec hevc --out "$work/x.webm" >/dev/null 2>"$work/err"
code=$?
[ $code -eq 2 ] && grep -q 'cannot hold hevc.*can take vp9' "$work/err" &&
    pass "hevc in WebM is refused, naming vp9" || fail "hevc in WebM: exit $code: $(cat "$work/err")"
"$render" --codec divx --out "$work/x.mp4" >/dev/null 2>"$work/err"
code=$?
[ $code -eq 2 ] && grep -q 'can take h264' "$work/err" && pass "an unknown codec is refused" ||
    fail "divx: exit $code: $(cat "$work/err")"
echo "not a sound" >"$work/noise.wav"
"$render" --size 64x48 --out "$work/x.mkv" --sound "$work/noise.wav" >/dev/null 2>"$work/err"
code=$?
[ $code -eq 1 ] && grep -q 'The sound track cannot be used: .*noise.wav' "$work/err" &&
    [ ! -e "$work/x.mkv" ] && pass "a file that is no sound is refused before the render" ||
    fail "bad sound: exit $code: $(cat "$work/err")"

# Killed while writing, a video leaves nothing under its name (the next
# render replaces the leftover); stopped by SIGTERM, it is complete.
temporary="$work/.long.mp4.vortigo-tmp"
for signal in KILL TERM; do
    touch "$work/started"
    sleep 0.01 # the new file's time must differ from the mark's
    "$render" --size 64x48 --frames 100000 --fly --out "$work/long.mp4" --quiet 2>/dev/null &
    pid=$!
    for _ in $(seq 600); do
        [ -s "$temporary" ] && [ "$temporary" -nt "$work/started" ] && break
        sleep 0.1
    done
    kill -$signal $pid
    wait $pid
    code=$?
    if [ $signal = KILL ]; then
        [ $code -eq 137 ] && [ ! -e "$work/long.mp4" ] && pass "SIGKILL leaves no video" ||
            fail "SIGKILL: exit $code, $(ls -A "$work")"
    else
        frames=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 \
            "$work/long.mp4" 2>&1)
        [ $code -eq 143 ] && [ "${frames:-0}" -gt 0 ] 2>/dev/null &&
            [ ! -e "$work/.long.mp4.vortigo-tmp" ] && pass "SIGTERM leaves a whole video of $frames frames" ||
            fail "SIGTERM: exit $code, '$frames', $(ls -A "$work")"
    fi
done

exit $((failures > 0))
