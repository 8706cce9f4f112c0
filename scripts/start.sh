#!/bin/bash
# Sets Vortigo up if needed and starts the studio on its default project.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the two programs: the tests and benchmarks stay with the test command.
bash scripts/setup.sh vortigo vortigo-render
exec build/bin/vortigo
