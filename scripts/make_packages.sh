#!/bin/bash
# Builds the Debian packages vortigo, vortigo-render and vortigo-data (with
# their -dbgsym debug symbols) in build-deb/, and checks them with lintian:
#   scripts/make_packages.sh [OUTDIR]   (default: packages/)
# VORTIGO_DEB_BUILD_DIR names another build folder; one already configured
# (build/, say) is used as it is: the packages install under /usr whatever
# its install prefix. Run scripts/setup.sh --install-only first on a fresh
# machine.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-packages}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build=${VORTIGO_DEB_BUILD_DIR:-build-deb}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
        -DVORTIGO_TESTS=OFF -DVORTIGO_BENCH=OFF >/dev/null
fi
cmake --build "$build"
(cd "$build" && rm -f ./*.deb ./*.ddeb && cpack -G DEB >/dev/null)
cp "$build"/*.deb "$out"/
# The debug symbol packages as dh_strip makes them: CPack writes their
# md5sums with its staging path and gives them no documentation folder, so
# they are repacked with relative md5sums and the documentation link to the
# package whose symbols they hold (on which they depend, version for version).
for ddeb in "$build"/*.ddeb; do
    [ -e "$ddeb" ] || continue
    name=$(dpkg-deb -f "$ddeb" Package)
    tree=$(mktemp -d)
    dpkg-deb -R "$ddeb" "$tree"
    (cd "$tree" && find usr -type f -exec md5sum {} + | sort -k2 >DEBIAN/md5sums)
    mkdir -p "$tree/usr/share/doc"
    ln -s "${name%-dbgsym}" "$tree/usr/share/doc/$name"
    dpkg-deb --root-owner-group -Zxz -b "$tree" "$out/$(basename "${ddeb%.ddeb}").deb" >/dev/null
    rm -rf "$tree"
done

# Lintian's errors fail the build; its warnings are printed.
status=0
for deb in "$out"/vortigo*.deb; do
    lintian --no-tag-display-limit "$deb" || status=1
done
ls -l "$out"/vortigo*.deb
exit $status
