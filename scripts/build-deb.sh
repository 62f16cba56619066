#!/usr/bin/env bash
# Builds the Debian package of escupdate (release build, no sanitizers) with the udev rule:
#   scripts/build-deb.sh [cmake options, e.g. -DESC_FIRMWARE_DIR=/path/to/images]
# and prints the package's path (build/linux-release/escupdate_<version>_<arch>.deb).
# Without ESC_FIRMWARE_DIR the package carries placeholder images and refuses every real
# update (only --simulate writes them, to the emulated ESC).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux-release "$@" >/dev/null
cmake --build --preset linux-release -j "$(nproc)"
(cd build/linux-release && cpack -G DEB >/dev/null)
ls build/linux-release/escupdate_*.deb
