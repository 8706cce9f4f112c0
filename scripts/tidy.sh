#!/bin/bash
# Runs clang-tidy over the product's sources with the checks in .clang-tidy,
# every finding an error; reports from headers count when they are the
# product's own (not the system's, not generated files in a build folder).
#   tidy.sh [BUILD_DIR]   a configured build (default build-werror), for its
#                         compile_commands.json
# VORTIGO_TIDY_JOBS sets how many files are checked at once (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-werror}
if [ ! -f "$build/compile_commands.json" ]; then
    echo "no $build/compile_commands.json: configure that build first" >&2
    exit 1
fi
# The product folders, from the include check's layer table.
folders=$(python3 scripts/check_includes.py --folders | paste -sd '|')
quoted_root=$(printf '%s' "$root" | sed 's/[][\.*^$+?(){}|]/\\&/g')
# run-clang-tidy prints each command it starts; only the findings matter.
# The GCC-only warning names in pragmas mean nothing to clang.
run-clang-tidy-14 -quiet -j "${VORTIGO_TIDY_JOBS:-2}" -p "$build" \
    -extra-arg=-Wno-unknown-warning-option \
    -header-filter="^$quoted_root/($folders)/" \
    "^$quoted_root/($folders)/.*\\.(c|cpp)\$" |
    sed -e '/^\(\x1b\[[0-9;]*m\)*clang-tidy-14 /d'
echo "clang-tidy: no findings"
