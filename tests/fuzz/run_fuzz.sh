#!/bin/bash
# Builds the libFuzzer targets with clang (fuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs one of them.
#
#   tests/fuzz/run_fuzz.sh TARGET [RUNS] [extra libFuzzer options...]
#
# TARGET is the NAME of tests/fuzz/fuzz_NAME.cpp (project, flight, options,
# text, ...). RUNS defaults to 1000000. Seeds: tests/fuzz/seeds/NAME/, plus
# the files the core tests write when the test command's
# build-werror/bin/vortigo_core_tests (or build/bin/'s) exists.
# The corpus grows in build-fuzz/corpus/NAME/; crashes land in
# build-fuzz/crashes/NAME/. Not part of CI.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
target=${1:?usage: run_fuzz.sh TARGET [RUNS] [libFuzzer options...]}
runs=${2:-1000000}
shift $(($# > 1 ? 2 : 1))
[ -f "$here/fuzz_$target.cpp" ] || { echo "no fuzz target $here/fuzz_$target.cpp" >&2; exit 2; }

build=$root/build-fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
        -DVORTIGO_TESTS=OFF -DVORTIGO_BENCH=OFF -DVORTIGO_FUZZ=ON
fi
cmake --build "$build" --target "fuzz_$target"

corpus=$build/corpus/$target
crashes=$build/crashes/$target
mkdir -p "$corpus" "$crashes"
seeds=()
[ -d "$here/seeds/$target" ] && seeds+=("$here/seeds/$target")
tests=$root/build-werror/bin/vortigo_core_tests
[ -x "$tests" ] || tests=$root/build/bin/vortigo_core_tests
if [ -x "$tests" ]; then
    fresh=$build/seeds
    rm -rf "$fresh"
    VORTIGO_FUZZ_SEEDS=$fresh "$tests" \
        --gtest_filter='ProjectFile*:FlightFile*:Options*:TextFile*' >/dev/null 2>&1 || true
    [ -d "$fresh/$target" ] && seeds+=("$fresh/$target")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/bin/fuzz_$target" -runs="$runs" -artifact_prefix="$crashes/" -print_final_stats=1 \
    "$@" "$corpus" "${seeds[@]}"
