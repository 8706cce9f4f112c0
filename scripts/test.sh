#!/bin/bash
# Sets Vortigo up if needed and runs the whole test suite: the core tests
# (real EGL on Mesa's software renderer, real files) and the studio itself
# under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# One test checks that numbers ignore a German desktop locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
fi

cd build
ctest --output-on-failure -j2 --timeout 300
