#!/usr/bin/env bash
# Builds the updater and shows what exists so far.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
ctest --preset native
