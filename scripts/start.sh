#!/bin/bash
# Sets Vortigo up if needed and starts the studio on its default project.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec build/bin/vortigo
