#!/usr/bin/env bash
# Sets up the machine, builds the test build (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset test
cmake --build --preset test
ctest --preset test
