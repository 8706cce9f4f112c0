#!/bin/bash
# Pictures for the README: the studio under a virtual X server (the editor
# and the Trace window after F5), and stills of the default project flying
# forward from vortigo-render, as small PNGs in docs/screenshots/.
#   scripts/screenshots.sh [BUILD_DIR]     (default: build/)
# Needs Xvfb, xdotool and ImageMagick (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
out=$PWD/docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid= app_pid=
cleanup() {
    [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless
# A settings folder of its own: the pictures show the defaults.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"

# Stills: frames 0, 200 and 400 of the default project flying forward.
for frame in 0 200 400; do
    "$build/bin/vortigo-render" --size 320x240 --from "$frame" --to "$frame" --fly --quiet \
        --out "$work/still$frame.png"
done
convert "$work/still0.png" "$work/still200.png" "$work/still400.png" +append -strip \
    "$out/flight-stills.png"

# The studio on a virtual screen.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1400x720x24 -nolisten tcp &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.2; done
(cd "$work" && exec "$build/bin/vortigo" </dev/null >/dev/null 2>&1) &
app_pid=$!
window() {
    local id
    for _ in $(seq 300); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    echo "screenshots: no window named $1" >&2
    return 1
}
trace=$(window '^Trace')
editor=$(window 'Shader|Script')
xdotool windowmove "$editor" 650 0 windowsize "$editor" 640 560
xdotool windowmove "$trace" 0 0
xdotool windowfocus --sync "$trace" key F5
sleep 4
import -window "$trace" "$work/trace.png"
import -window "$editor" "$work/editor.png"
import -window root -crop 1290x560+0+0 "$work/desktop.png"
convert "$work/trace.png" -resize '320x240>' -strip "$out/trace-window.png"
convert "$work/editor.png" -resize '480x420>' -strip "$out/editor-window.png"
convert "$work/desktop.png" -resize "760x>" -strip "$out/studio.png"
ls -l "$out"
