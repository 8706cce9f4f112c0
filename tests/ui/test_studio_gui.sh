#!/bin/bash
# Starts the real studio under Xvfb and drives it with xdotool as a user
# would: both windows open, F5 from the Trace window runs the script and a
# frame arrives, C / fly / X leaves an AVI file, Copy Image fills the
# clipboard, a window manager's close of the Trace window leaves it there
# and drawing, Alt+/ opens About, File > Exit ends the process with 0.
# Then a missing default shader gives exactly one "File Error" naming it,
# and a start without any display says what is wrong and fails. SIGTERM
# during a capture ends the studio cleanly, with a readable file.
set -u
exe=$(readlink -f "$1")
bindir=$(dirname "$exe")
work=$(mktemp -d /tmp/vortigo-gui-XXXXXX)
failures=0
xvfb_pid=""
app_pid=""

cleanup() {
    [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# Waits up to $2 seconds for a window whose whole title matches $1 and
# prints its id.
wait_window() {
    local deadline=$((SECONDS + $2)) id
    while [ $SECONDS -lt $deadline ]; do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}

# Waits up to $3 seconds for window $1's title to match the bash regex $2.
wait_title() {
    local deadline=$((SECONDS + $3))
    while [ $SECONDS -lt $deadline ]; do
        [[ "$(xdotool getwindowname "$1" 2>/dev/null)" =~ $2 ]] && return 0
        sleep 0.2
    done
    return 1
}

# Waits up to $2 seconds for our child process $1 to end and puts its exit
# code into $exit_code (runs in this shell: only it can reap its child).
wait_exit() {
    local deadline=$((SECONDS + $2))
    exit_code=""
    while [ $SECONDS -lt $deadline ]; do
        if ! kill -0 "$1" 2>/dev/null || [ "$(ps -o stat= -p "$1" 2>/dev/null | cut -c1)" = Z ]; then
            wait "$1"
            exit_code=$?
            return 0
        fi
        sleep 0.2
    done
    return 1
}

# Asks window $1 to close as a window manager does (WM_DELETE_WINDOW); the
# virtual desktop has no window manager of its own.
wm_close() {
    python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
ev = ClientMessage()
ev.type = 33  # ClientMessage
ev.window = int(sys.argv[1])
ev.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
ev.format = 32
ev.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, ev.window, 0, 0, ctypes.byref(ev))
x.XFlush(d)
x.XCloseDisplay(d)
PY
}

install_copy() {
    rm -rf "$work/app"
    mkdir -p "$work/app"
    cp "$exe" "$bindir"/default_* "$work/app/"
    [ -d "$bindir/lib" ] && cp -r "$bindir/lib" "$work/app/"
    return 0
}

# File > Exit; edited texts bring a question, answered with Yes (Return).
close_main_window() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --clearmodifiers alt+f
    sleep 0.5
    xdotool key x
    local question
    if question=$(wait_window "Exit without saving the following files[?]" 10); then
        xdotool windowfocus --sync "$question" 2>/dev/null
        xdotool key Return
    fi
}

# The window manager's close box: a WM_DELETE_WINDOW message to window $1.
close_box() {
    python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
display = x.XOpenDisplay(None)
window = int(sys.argv[1])
event = ClientMessage(type=33, window=window, format=32)
event.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x.XFlush(display)
PY
}

# --- no display at all ------------------------------------------------------
install_copy
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/app/vortigo" 2>&1)
code=$?
if [ $code -ne 0 ] && grep -q "needs a desktop" <<<"$out" && grep -q "xvfb-run" <<<"$out"; then
    pass "without a display the studio explains itself and exits with $code"
else
    fail "without a display: exit $code, said: $out"
fi

# --- a virtual desktop --------------------------------------------------------
# A display nobody uses: no lock, no socket, and a server that answers.
for d in $(seq 91 160); do
    [ -e "/tmp/.X$d-lock" ] || [ -e "/tmp/.X11-unix/X$d" ] && continue
    Xvfb ":$d" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do DISPLAY=":$d" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    if DISPLAY=":$d" xdpyinfo >/dev/null 2>&1; then
        export DISPLAY=":$d"
        break
    fi
    kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "FAIL: no virtual X server could be started"; exit 1; }
export QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1

# --- both windows, a frame, About and a clean exit -----------------------------
install_copy
"$work/app/vortigo" >"$work/run1.log" 2>&1 &
app_pid=$!
main_id=$(wait_window "Fragment Shader Layer 1" 20) && pass "main window titled 'Fragment Shader Layer 1'" ||
    fail "no main window"
trace_id=$(wait_window "Trace" 20) && pass "Trace window titled 'Trace'" || fail "no Trace window"

if [ -n "${trace_id:-}" ]; then
    geometry=$(xdotool getwindowgeometry "$trace_id" | grep Geometry | awk '{print $2}')
    [ "$geometry" = "640x480" ] && pass "Trace client area 640x480" ||
        fail "Trace client area is $geometry"
    # The start-up frame first: an F5 that arrives before the buffers exist
    # compiles again, but nothing asks for the advance that titles the window.
    for _ in $(seq 60); do
        c=$(import -window "$trace_id" png:- 2>/dev/null | convert png:- -format %k info: 2>/dev/null)
        [ "${c:-0}" -gt 200 ] && break
        sleep 1
    done
    # F5 pressed in the Trace window runs the script; the handled advance
    # puts the status line into the Trace window's title. The start-up
    # compile and the frame buffers come first: an F5 that joins the
    # start-up compile finds no frame buffers yet and advances nothing.
    sleep 2
    xdotool windowfocus --sync "$trace_id" 2>/dev/null
    xdotool key F5
    status='^xc:0\.000e\+00 yc:1\.000e-04 zc:-3\.000e\+00 time:0\.0000 cap:off, mspf:[0-9]+$'
    if wait_title "$trace_id" "$status" 60; then
        pass "F5 from the Trace window runs and a frame is handed over"
    else
        fail "no status line after F5 (title: $(xdotool getwindowname "$trace_id"))"
    fi
    sleep 1
    colours=$(import -window "$trace_id" png:- 2>/dev/null | convert png:- -format %k info: 2>/dev/null)
    [ "${colours:-0}" -gt 200 ] && pass "the Trace window shows the fractal ($colours colours)" ||
        fail "the Trace window shows ${colours:-no} colours"

    # Up flies forward: the position in the status line changes; S stops it.
    xdotool key Up
    moving='^xc:.* zc:-2\.99[0-9]e\+00 '
    wait_title "$trace_id" "$moving" 20 && pass "Up flies the camera forward" ||
        fail "the camera did not move (title: $(xdotool getwindowname "$trace_id"))"
    xdotool key s
    sleep 0.5
    stopped=$(xdotool getwindowname "$trace_id")
    sleep 1
    [ "$stopped" = "$(xdotool getwindowname "$trace_id")" ] && pass "S stops the flight" ||
        fail "the flight went on after S"

    # C asks for the compression, the flight is captured, X closes the file
    # that ffprobe then reads.
    xdotool key c
    if dialog_id=$(wait_window "Video Compression" 10); then
        pass "C asks for the compression"
        xdotool windowfocus --sync "$dialog_id" 2>/dev/null
        xdotool key Return
        wait_title "$trace_id" ' cap:on,' 10 && pass "capture is on" || fail "capture did not start"
        xdotool windowfocus --sync "$trace_id" 2>/dev/null
        xdotool key Up
        sleep 3
        xdotool key s
        sleep 0.5
        xdotool key x
        wait_title "$trace_id" ' cap:off,' 10 && pass "X ends the capture" || fail "capture still on after X"
        sleep 0.5
        probe=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries \
            stream=codec_name,width,height,nb_read_packets -of csv=p=0 "$work/app/mandelbrot.AVI" 2>&1)
        if [[ "$probe" =~ ^mjpeg,640,480,([0-9]+)$ ]] && [ "${BASH_REMATCH[1]}" -ge 2 ]; then
            pass "the captured flight is an AVI file ffprobe reads ($probe)"
        else
            fail "the captured file: '$probe'"
        fi
    else
        fail "C did not ask for the compression"
    fi

    # The window manager's close box must not lose the Trace window: it
    # stays, and F5 from the editor still draws into it.
    if wm_close "$trace_id"; then
        sleep 1
        xdotool search --onlyvisible --name '^(Trace|xc:.*)$' 2>/dev/null | grep -qx "$trace_id" &&
            pass "a window manager's close leaves the Trace window open" ||
            fail "the Trace window went away on a window manager's close"
        before=$(xdotool getwindowname "$trace_id")
        xdotool windowfocus --sync "$main_id" 2>/dev/null
        xdotool key F5
        sleep 1
        xdotool key Up
        changed=""
        for _ in $(seq 100); do
            now=$(xdotool getwindowname "$trace_id" 2>/dev/null)
            [[ "$now" =~ ^xc: ]] && [ "$now" != "$before" ] && { changed=1; break; }
            sleep 0.2
        done
        if [ -n "$changed" ]; then
            colours=$(import -window "$trace_id" png:- 2>/dev/null | convert png:- -format %k info: 2>/dev/null)
            [ "${colours:-0}" -gt 200 ] && pass "after the close F5 still draws ($colours colours)" ||
                fail "after the close the Trace window shows ${colours:-no} colours"
        else
            fail "no new frame after the close and F5 (title: $(xdotool getwindowname "$trace_id"))"
        fi
        xdotool key s
    else
        fail "could not send a close request to the Trace window"
    fi
fi

if [ -n "${main_id:-}" ]; then
    xdotool windowfocus --sync "$main_id" 2>/dev/null
    # Edit > Copy Image puts the shown frame on the clipboard.
    xdotool key --clearmodifiers alt+e
    sleep 0.5
    xdotool key i
    sleep 1
    size=$(xclip -o -selection clipboard -t image/png 2>/dev/null | identify -format %wx%h - 2>/dev/null)
    [ "$size" = "640x480" ] && pass "Copy Image puts the 640x480 frame on the clipboard" ||
        fail "clipboard image after Copy Image: '$size'"
    for pair in "F7:Vertex Shader Layer 1" "F9:Debug Output" "F8:Fragment Shader Layer 1" \
        "F6:Animation Script"; do
        xdotool key "${pair%%:*}"
        wait_window "${pair#*:}" 5 >/dev/null && pass "${pair%%:*} shows '${pair#*:}'" ||
            fail "${pair%%:*} did not show '${pair#*:}'"
    done

    # A fragment shader with an error on line 5: the message names the layer
    # and the editor selects the first character of line 5.
    xdotool key F8
    xdotool key ctrl+a Delete
    for line in "void main()" "{" "gl_FragColor = vec4(1.0);" "}" "QQQ error here"; do
        xdotool type --delay 5 "$line"
        xdotool key Return
    done
    xdotool key F5
    if box_id=$(wait_window "Layer 1 Fragment Compilation Error" 20); then
        pass "a broken shader names 'Layer 1 Fragment Compilation Error'"
        xdotool windowfocus --sync "$box_id" 2>/dev/null
        xdotool key Return
        sleep 0.5
        xdotool windowfocus --sync "$main_id" 2>/dev/null
        xdotool key ctrl+c
        sleep 0.3
        [ "$(xclip -o -selection clipboard 2>/dev/null)" = "Q" ] &&
            pass "the editor selects line 5" ||
            fail "selection after the error: '$(xclip -o -selection clipboard 2>/dev/null)'"
    else
        fail "no compilation error for the broken shader"
    fi
    xdotool key F6
    # Enter repeats the leading tabs of the line it ends.
    xdotool key ctrl+End Return Tab Tab
    xdotool type --delay 20 "abc"
    xdotool key Return
    xdotool type --delay 20 "x"
    xdotool key ctrl+a ctrl+c
    sleep 0.5
    text=$(xclip -o -selection clipboard 2>/dev/null | tail -2)
    [ "$text" = $'\t\tabc\n\t\tx' ] && pass "Enter keeps the indentation" ||
        fail "indentation after Enter: $(printf %q "$text")"
    xdotool key --clearmodifiers alt+slash
    if about_id=$(wait_window "About" 10); then
        pass "Alt+/ opens About"
        xdotool windowfocus --sync "$about_id" 2>/dev/null
        xdotool key Return
        sleep 0.5
    else
        fail "Alt+/ did not open About"
    fi
    close_main_window "$main_id"
    if wait_exit "$app_pid" 15; then
        [ "$exit_code" = 0 ] && pass "closing the main window exits with 0" ||
            fail "exit code $exit_code"
    else
        fail "the studio did not exit within 15 seconds"
    fi
    app_pid=""
fi

# --- a missing default shader ----------------------------------------------------
install_copy
rm "$work/app/default_vertex_shader.vert"
"$work/app/vortigo" >"$work/run2.log" 2>&1 &
app_pid=$!
if box_id=$(wait_window "File Error" 20); then
    count=$(xdotool search --onlyvisible --name "^File Error\$" | wc -l)
    [ "$count" = 1 ] && pass "one File Error box" || fail "$count File Error boxes"
    expected="File Error: There has been an error opening the text file: $work/app/default_vertex_shader.vert"
    said=$(grep -c "File Error" "$work/run2.log")
    grep -qxF "vortigo: $expected" "$work/run2.log" && [ "$said" = 1 ] &&
        pass "the message names the full path" || fail "messages: $(cat "$work/run2.log")"
    xdotool windowfocus --sync "$box_id" 2>/dev/null
    xdotool key Return
    sleep 1
    again=$(xdotool search --onlyvisible --name "^File Error\$" | wc -l)
    [ "$again" = 0 ] && pass "no second File Error" || fail "another File Error appeared"
    if main_id=$(wait_window "Fragment Shader Layer 1" 20); then
        close_main_window "$main_id"
        wait_exit "$app_pid" 15 && [ "$exit_code" = 0 ] && pass "exit with 0 after the message" ||
            fail "no clean exit after the message"
        app_pid=""
    else
        fail "no main window after the message"
    fi
else
    fail "no File Error box for the missing vertex shader"
fi

# --- a project named on the command line: drawn, edited, asked about, saved as ---
install_copy
render="$bindir/vortigo-render"
proj="$work/my project"
mkdir -p "$proj"
cp "$work/app/default_vertex_shader.vert" "$proj/scene.vert"
cp "$work/app/default_fragment_shader.frag" "$proj/scene.frag"
cp "$work/app/default_animation_script.anim" "$proj/scene.anim"
# Written on Windows: CR LF line ends and backslash paths of another machine;
# the texts are found beside the project.
name_entry() { printf '%s=%d\r\n%s\r\n' "$1" "${#2}" "$2"; }
{
    printf 'Cobblewick_Vortigo_File\r\nVERSION=2.00\r\nWIDTH=320\r\nHEIGHT=240\r\n'
    printf 'DOF_SCALE=0.5\r\nXCENTER=5.e-001\r\nUDEF3=0.25\r\n'
    name_entry VSFILE 'C:\Users\me\old place\scene.vert'
    name_entry FSFILE 'C:\Users\me\old place\scene.frag'
    name_entry ASFILE 'D:\scene.anim'
    name_entry OUTPUT "$work/clip.avi"
} >"$proj/scene.vort"
"$work/app/vortigo" "$proj/scene.vort" >"$work/run3.log" 2>&1 &
app_pid=$!
main_id=$(wait_window "Fragment Shader Layer 1" 20) && pass "vortigo PROJECT.vort opens the project" ||
    fail "no main window for the project"
# Opening the project puts its camera into the Trace window's status line.
trace_id=$(wait_window 'xc:5\.000e-01 yc:1\.000e-04 .*' 20) ||
    fail "no Trace window with the project's camera"
if [ -n "${main_id:-}" ] && [ -n "${trace_id:-}" ]; then
    xdotool windowfocus --sync "$trace_id" 2>/dev/null
    xdotool key F5
    colours=0
    for _ in $(seq 60); do
        colours=$(import -window "$trace_id" png:- 2>/dev/null | convert png:- -format %k info: 2>/dev/null)
        [ "${colours:-0}" -gt 200 ] && break
        sleep 1
    done
    [ "${colours:-0}" -gt 200 ] && pass "F5 draws the project ($colours colours)" ||
        fail "no frame of the project ($colours colours)"
    xdotool windowfocus --sync "$main_id" 2>/dev/null
    xdotool key ctrl+End
    xdotool type --delay 5 "// edited"
    close_box "$main_id"
    if question=$(wait_window "Exit without saving the following files[?]" 10); then
        pass "closing the window with an edit asks first"
        xdotool windowfocus --sync "$question" 2>/dev/null
        xdotool key Escape
        sleep 1
        kill -0 "$app_pid" 2>/dev/null && pass "No keeps the studio running" ||
            fail "the studio ended after No"
    else
        fail "closing the window with an edited text did not ask"
    fi
    # File > Save as... (the second item with the mnemonic S), then the dialog.
    xdotool windowfocus --sync "$main_id" 2>/dev/null
    xdotool key --clearmodifiers alt+f
    sleep 0.5
    xdotool key s s Return
    if dialog_id=$(wait_window "Save File" 10); then
        xdotool windowfocus --sync "$dialog_id" 2>/dev/null
        sleep 0.5
        xdotool type --delay 5 "$work/saved.vort"
        xdotool key Return
        for _ in $(seq 50); do [ -s "$work/saved.vort" ] && break; sleep 0.2; done
        expected=$("$render" "$proj/scene.vort" --describe 2>&1)
        again=$("$render" "$work/saved.vort" --describe 2>&1)
        if [ -s "$work/saved.vort" ] && [ "$expected" = "$again" ] &&
            grep -qxF "VSFILE=$proj/scene.vert" <<<"$again" && grep -qx 'WIDTH=320' <<<"$again" &&
            grep -qx 'UDEF3=0.25' <<<"$again"; then
            pass "Save as writes a project that loads again with the same fields"
        else
            fail "saved project differs: $(diff <(echo "$expected") <(echo "$again") | head -20)"
        fi
    else
        fail "File > Save as... showed no 'Save File' dialog"
    fi
    close_main_window "$main_id"
    wait_exit "$app_pid" 15 && [ "$exit_code" = 0 ] && pass "Exit after Yes ends with 0" ||
        fail "no clean exit after the question"
    app_pid=""
fi

# --- SIGTERM during a capture, with an edited text ----------------------------
# The session ends through the exit path: the capture is finished into a
# file ffprobe reads, udShutdown runs, nothing is asked and the edit is not
# written.
cat >"$proj/ending.anim" <<'ANIM'
#include <stdio.h>
void udShutdown(void) { printf("udShutdown ran\n"); fflush(stdout); }
ANIM
cp "$proj/ending.anim" "$work/ending.orig"
{
    printf 'Cobblewick_Vortigo_File\r\nWIDTH=160\r\nHEIGHT=120\r\n'
    name_entry VSFILE "$proj/scene.vert"
    name_entry FSFILE "$proj/scene.frag"
    name_entry ASFILE "$proj/ending.anim"
    name_entry OUTPUT "$work/ending.avi"
} >"$proj/ending.vort"
"$work/app/vortigo" "$proj/ending.vort" >"$work/run4.log" 2>&1 &
app_pid=$!
main_id=$(wait_window "Fragment Shader Layer 1" 20) || fail "no main window for ending.vort"
trace_id=$(wait_window 'xc:.*' 20) || fail "no Trace window for ending.vort"
if [ -n "${main_id:-}" ] && [ -n "${trace_id:-}" ]; then
    xdotool windowfocus --sync "$main_id" 2>/dev/null
    xdotool key ctrl+End
    xdotool type --delay 5 "// edited"
    # The start-up frame, without F5: a compile would call udShutdown too.
    for _ in $(seq 60); do
        c=$(import -window "$trace_id" png:- 2>/dev/null | convert png:- -format %k info: 2>/dev/null)
        [ "${c:-0}" -gt 200 ] && break
        sleep 1
    done
    xdotool windowfocus --sync "$trace_id" 2>/dev/null
    xdotool key c
    if dialog_id=$(wait_window "Video Compression" 10); then
        xdotool windowfocus --sync "$dialog_id" 2>/dev/null
        xdotool key Return
        wait_title "$trace_id" ' cap:on,' 10 || fail "capture did not start for SIGTERM"
        xdotool windowfocus --sync "$trace_id" 2>/dev/null
        xdotool key Up
        sleep 2
    else
        fail "C did not ask for the compression before SIGTERM"
    fi
    kill -TERM "$app_pid"
    if wait_exit "$app_pid" 20; then
        [ "$exit_code" = 0 ] && pass "SIGTERM ends the studio with 0" ||
            fail "SIGTERM: exit code $exit_code"
    else
        fail "the studio did not end on SIGTERM (asked? $(xdotool search --onlyvisible \
            --name 'Exit without saving' 2>/dev/null | wc -l) question windows)"
        kill -9 "$app_pid" 2>/dev/null
    fi
    app_pid=""
    [ "$(grep -cx "udShutdown ran" "$work/run4.log")" = 1 ] && pass "SIGTERM runs udShutdown" ||
        fail "udShutdown did not run on SIGTERM"
    cmp -s "$proj/ending.anim" "$work/ending.orig" && pass "SIGTERM writes no edit over the file" ||
        fail "SIGTERM saved the edited script"
    probe=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries \
        stream=codec_name,width,height,nb_read_packets -of csv=p=0 "$work/ending.AVI" 2>&1)
    if [[ "$probe" =~ ^mjpeg,160,120,([0-9]+)$ ]] && [ "${BASH_REMATCH[1]}" -ge 2 ]; then
        pass "the capture cut by SIGTERM is an AVI file ffprobe reads ($probe)"
    else
        fail "the capture cut by SIGTERM: '$probe'"
    fi
fi

out=$("$render" "$work/nothing.vort" --describe 2>&1)
code=$?
[ $code = 1 ] && grep -q "Could not open file." <<<"$out" &&
    pass "--describe of a missing project says so and exits with 1" ||
    fail "--describe of a missing project: exit $code, said: $out"

if [ $failures -ne 0 ]; then
    echo "--- studio output ---"
    cat "$work"/run*.log 2>/dev/null
    exit 1
fi
exit 0
