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

if [[ -x tests/wine/run.sh ]]; then
  tests/wine/run.sh build/windows
fi

# escupdate's Debian package: a release build (no sanitizers) with the program and the
# udev rule in their places.
deb=$(scripts/build-deb.sh | tail -1)
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/escupdate ./usr/lib/udev/rules.d/70-escupdate.rules; do
  grep -q " $file\$" <<<"$contents" || { echo "FAIL $deb lacks $file"; exit 1; }
done
echo "ok $deb holds escupdate and its udev rule"
