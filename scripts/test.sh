#!/bin/bash
# Sets Vortigo up if needed and runs the whole test suite, stopping at the
# first failure: the format check; the build with warnings as errors (in
# build-werror/, so the start command's build/ is never rebuilt), clang-tidy,
# and that build's tests (real EGL on Mesa's software renderer, real files,
# the studio under Xvfb, the include check); then the sanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --install-only

# One format for every C++ file: the product's folders (from the include
# check's layer table), the tests and the benchmarks.
folders=()
for folder in $(python3 scripts/check_includes.py --folders) bench tests; do
    [ ! -d "$folder" ] || folders+=("$folder")
done
find "${folders[@]}" \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run --Werror

VORTIGO_WERROR=ON VORTIGO_BUILD_DIR=build-werror bash scripts/setup.sh
bash scripts/tidy.sh build-werror

(
    cd build-werror
    # Each test binary once more as one process, in a random order: no test
    # may depend on what ran before it in the same process.
    LIBGL_ALWAYS_SOFTWARE=1 EGL_PLATFORM=surfaceless bin/vortigo_core_tests --gtest_shuffle --gtest_brief=1
    QT_QPA_PLATFORM=offscreen bin/vortigo_gui_tests --gtest_shuffle --gtest_brief=1
    ctest --output-on-failure -j2 --timeout 300
)

# Every test of both test binaries, and the checks that need no program, once
# more under AddressSanitizer and UndefinedBehaviorSanitizer: the script
# faults and the thread handshake must hold there too. (The software GL
# driver keeps some allocations to the end, so leaks are not counted.)
if [ ! -f build-asan/build.ninja ]; then
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORTIGO_SANITIZE=ON \
        -DVORTIGO_BENCH=OFF -DVORTIGO_WERROR=ON
fi
cmake --build build-asan --target vortigo_core_tests vortigo_gui_tests
(cd build-asan && ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 \
    UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j2 --timeout 300 \
    -E '^(studio_gui|install_and_render_elsewhere|batch_render|batch_capture|batch_hostile|start_without_desktop|examples_render|batch_poster|batch_formats|batch_shader|farm_recipes|batch_params)$')

# The thread handshake and the frame pipeline under ThreadSanitizer.
if [ ! -f build-tsan/build.ninja ]; then
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORTIGO_TSAN=ON \
        -DVORTIGO_BENCH=OFF -DVORTIGO_WERROR=ON
fi
cmake --build build-tsan --target vortigo_core_tests
(cd build-tsan && TSAN_OPTIONS=report_signal_unsafe=0:halt_on_error=1:suppressions=$PWD/../tests/tsan.supp \
    ctest --output-on-failure -j2 --timeout 300 -R '^(WorkersTest|HeadlessSessionTest|FrameQueue|RunState)\.')
