#!/usr/bin/env bash
# Builds everything and runs every test: the native tests of the portable core (with
# AddressSanitizer and UndefinedBehaviorSanitizer), the Windows cross build, and the
# Windows program's tests under Wine and Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --wine

jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

# Hardening: the native suite under memcheck, every fuzz target for a bounded time, and
# clang-tidy over the portable core and the Windows code.
scripts/valgrind.sh
scripts/fuzz.sh 60
scripts/tidy.sh

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

if [[ -x tests/wine/run.sh ]]; then
  tests/wine/run.sh build/windows
fi
