#!/bin/bash
# Renders one still of every example project with the batch renderer into
# docs/gallery/NAME.png (320x180), the pictures the README shows. Run it from
# anywhere after a build, again whenever an example changes:
#   bash scripts/make_gallery.sh [path/to/vortigo-render]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
render=${1:-}
if [ -z "$render" ]; then
    for candidate in "$root/build-werror/bin/vortigo-render" "$root/build/bin/vortigo-render"; do
        [ -x "$candidate" ] && render=$candidate && break
    done
fi
[ -n "$render" ] && [ -x "$render" ] || { echo "no vortigo-render: build first or name it" >&2; exit 2; }
export LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless
mkdir -p "$root/docs/gallery"
for folder in "$root"/examples/*/; do
    name=$(basename "$folder")
    [ -f "$folder/$name.vort" ] || continue
    "$render" "$folder/$name.vort" --size 320x180 --quiet --out "$root/docs/gallery/$name.png"
    echo "docs/gallery/$name.png"
done
