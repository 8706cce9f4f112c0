#!/bin/bash
# Installs whatever Debian packages are missing, then configures and builds
# Vortigo in build/. Safe to run again: nothing is installed or rebuilt twice.
#   setup.sh [TARGET...]   builds only the named targets (default: everything)
#   setup.sh --install-only   installs what is missing and builds nothing
# VORTIGO_WERROR=ON treats warnings as errors; VORTIGO_BUILD_DIR names another
# build folder (the test command builds in build-werror/ with both, so that it
# and the start command never rebuild each other's build).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins qt6-wayland libxcursor1 fonts-dejavu-core
    libgl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri
    libtcc-dev tcc
    libjpeg62-turbo-dev libpng-dev libtiff-dev
    libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
    libpulse0
    googletest libgtest-dev libgmock-dev libbenchmark-dev clang-format clang-tidy
    zlib1g-dev
    xvfb xdotool xclip x11-utils imagemagick locales python3
    desktop-file-utils shared-mime-info gtk-update-icon-cache dpkg-dev file parallel
    librsvg2-bin help2man appstream lintian
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, so the tests can show that files and
# numbers never depend on the desktop's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "note: no de_DE.UTF-8 locale; locale tests will skip"
fi

if [ "${1:-}" = --install-only ]; then
    exit 0
fi

werror=${VORTIGO_WERROR:-OFF}
build=${VORTIGO_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ] ||
    ! grep -q "^VORTIGO_WERROR:BOOL=$werror\$" "$build/CMakeCache.txt"; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTIGO_WERROR="$werror"
fi
if [ $# -gt 0 ]; then
    cmake --build "$build" --target "$@"
else
    cmake --build "$build"
fi
