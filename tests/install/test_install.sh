#!/bin/bash
# Installs the build into a temporary prefix, as a package would, and uses the
# installed programs from another folder: they must find their own files in
# share/vortigo, the desktop entry and the AppStream data must validate, the
# desktop's MIME and icon caches are brought up to date, and an unprivileged
# user's settings stay out of the installation (reading them makes no
# folder).  Usage: test_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
for f in bin/vortigo bin/vortigo-render \
    share/vortigo/default_animation_script.anim share/vortigo/default_fragment_shader.frag \
    share/vortigo/default_vertex_shader.vert share/vortigo/lib/vortigo.h \
    share/vortigo/examples/mandelbulb/mandelbulb.vort share/vortigo/examples/menger/nebula.jpg \
    share/applications/vortigo.desktop share/mime/packages/vortigo.xml \
    share/icons/hicolor/scalable/apps/vortigo.svg share/icons/hicolor/48x48/apps/vortigo.png \
    share/metainfo/org.vortigo.Vortigo.metainfo.xml share/man/man1/vortigo.1.gz \
    share/man/man1/vortigo-render.1.gz share/bash-completion/completions/vortigo-render \
    bin/vortigo-farm-parallel bin/vortigo-farm-slurm share/vortigo/contrib/render_slurm.sh \
    share/doc/vortigo-render/copyright share/mime/mime.cache \
    share/icons/hicolor/icon-theme.cache; do
    [ -e "$prefix/$f" ] || fail "$f was not installed"
done
desktop-file-validate "$prefix/share/applications/vortigo.desktop" || fail "desktop entry"
identify "$prefix/share/icons/hicolor/48x48/apps/vortigo.png" | grep -q ' 48x48 ' || fail "icon size"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/org.vortigo.Vortigo.metainfo.xml" >/dev/null ||
        fail "AppStream metainfo"
fi
# The MIME cache knows the project type by name and by content, with its icon.
grep -qx 'application/x-vortigo-project:vortigo' "$prefix/share/mime/icons" || fail "MIME icon"
man -l "$prefix/share/man/man1/vortigo-render.1.gz" 2>/dev/null | grep -q -- '--out' ||
    fail "the manual page of vortigo-render names no --out"
# The completion offers the program's own options.
completions=$(bash -c 'complete() { :; }; source "$1"; COMP_WORDS=("$2" --fr); COMP_CWORD=1
    _vortigo_render "$2" --fr; printf "%s\n" "${COMPREPLY[@]}"' - \
    "$prefix/share/bash-completion/completions/vortigo-render" "$prefix/bin/vortigo-render")
echo "$completions" | grep -qx -- '--frames' || fail "completion: $completions"

# From another folder, as an unprivileged user whose only writable place is
# the home folder.
mkdir -p "$work/elsewhere" "$work/home"
chmod 777 "$work/elsewhere" "$work/home"
cd "$work/elsewhere"
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_CONFIG_HOME HOME="$work/home" "$@"; }
as_user env LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless \
    "$prefix/bin/vortigo-render" --size 64x48 --out picture.ppm >/dev/null ||
    fail "the installed vortigo-render did not render"
[ "$(stat -c %s picture.ppm)" -eq $((13 + 64 * 48 * 3)) ] || fail "picture.ppm has the wrong size"
# An installed example renders from its read-only place, its files found
# beside it.
as_user env LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless "$prefix/bin/vortigo-render" \
    "$prefix/share/vortigo/examples/menger/menger.vort" --size 64x48 --out menger.ppm >/dev/null ||
    fail "the installed menger example did not render"
[ ! -e "$work/home/.config" ] || fail "reading the settings made a folder"
[ ! -e "$prefix/bin/VORTOptions.ini" ] || fail "settings written beside a program the user may not write"

help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/vortigo" --help) || fail "vortigo --help"
echo "$help" | grep -q '^Usage: ' || fail "no usage text"
echo "$help" | grep -q "\.vorn" || fail "the usage text does not name flight recordings"
echo "install test passed"
