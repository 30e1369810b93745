#!/usr/bin/env bash
# Sets up the machine, builds the normal build and runs the station's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release
cmake --build --preset release
exec build/release/apps/quillfen/quillfen --version "$@"
