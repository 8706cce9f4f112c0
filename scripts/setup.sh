#!/bin/bash
# Installs whatever Debian packages are missing, then configures and builds
# Vortigo in build/. Safe to run again: nothing is installed or rebuilt twice.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
    libgl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri
    libtcc-dev tcc
    libjpeg62-turbo-dev
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
    googletest libgtest-dev libgmock-dev libbenchmark-dev clang-format
    zlib1g-dev
    xvfb xdotool xclip x11-utils imagemagick locales
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

if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTIGO_WERROR=ON
fi
cmake --build build
