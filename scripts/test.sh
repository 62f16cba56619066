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

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

# The product as users get it: built from random stand-ins for the real firmware images,
# written now, so that the Wine tests can check that it writes them byte for byte.
product_images=$(mktemp -d "${TMPDIR:-/tmp}/esc-product-images.XXXXXX")
trap 'rm -rf "$product_images"' EXIT
python3 resources/firmware/firmware_images.py standins "$product_images"
cmake --preset windows -B build/windows-product -DESC_FIRMWARE_DIR="$product_images" >/dev/null
cmake --build build/windows-product -j "$jobs" --target EscUpdater

if [[ -x tests/wine/run.sh ]]; then
  tests/wine/run.sh build/windows --product build/windows-product/ui/win32/EscUpdater.exe \
    --images "$product_images"
fi
