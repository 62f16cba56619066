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

# The product as a firmware owner builds it: random stand-ins for the real images with
# their SHA256SUMS, in a folder outside the source tree that stays until the end
# ($product_images: the Wine tests check that the product writes them byte for byte).
product_images=$(mktemp -d)
product_repro=$(mktemp -d)
trap 'rm -rf "$product_images" "$product_repro"' EXIT
export product_images
python3 resources/firmware/firmware_images.py standins "$product_images"
cmake --preset windows -B build/windows-product -DESC_FIRMWARE_DIR="$product_images" \
  -Werror=dev -Werror=deprecated >/dev/null
cmake --build build/windows-product --target EscUpdater escupdate -j "$jobs"
product=build/windows-product/ui/win32/EscUpdater.exe
if ! x86_64-w64-mingw32-windres -i "$product" -O rc | grep '^1 VERSIONINFO' >/dev/null; then
  echo "$product carries no version resource" >&2
  exit 1
fi
# Reproducible: a copy of the sources and of the images, each in another folder, must
# build the same bytes.
mkdir "$product_repro/src" "$product_repro/images"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$product_repro/src"
cp "$product_images"/* "$product_repro/images/"
(cd "$product_repro/src" &&
  cmake --preset windows -B build/windows-product-repro \
    -DESC_FIRMWARE_DIR="$product_repro/images" >/dev/null &&
  cmake --build build/windows-product-repro --target EscUpdater -j "$jobs")
if ! cmp "$product" "$product_repro/src/build/windows-product-repro/ui/win32/EscUpdater.exe"; then
  echo "EscUpdater.exe is not reproducible: a second build from the same sources and" \
    "images differs" >&2
  exit 1
fi

# The updater in the browser: the page in headless Chromium on the simulated unit, and the
# product's path of a build with the stand-in images, which it must write byte for byte.
cmake --preset web >/dev/null
cmake --build --preset web -j "$jobs"
ctest --test-dir build/web --output-on-failure
cmake --preset web -B build/web-product -DESC_FIRMWARE_DIR="$product_images" >/dev/null
NODE_PATH=/usr/share/nodejs cmake --build build/web-product -j "$jobs"
ctest --test-dir build/web-product --output-on-failure -R web_ProductTests

if [[ -x tests/wine/run.sh ]]; then
  tests/wine/run.sh build/windows --product build/windows-product/ui/win32/EscUpdater.exe \
    --images "$product_images"
fi

# escupdate's Debian package: a release build (no sanitizers) with the program and the
# udev rule in their places.
deb=$(scripts/build-deb.sh | tail -1)
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/escupdate ./usr/lib/udev/rules.d/70-escupdate.rules \
  ./usr/share/man/man1/escupdate.1.gz ./usr/share/doc/escupdate/copyright \
  ./usr/share/doc/escupdate/changelog.gz; do
  grep -q " $file\$" <<<"$contents" || { echo "FAIL $deb lacks $file"; exit 1; }
done
echo "ok $deb holds escupdate, its manual page, udev rule, copyright and changelog"
# Debian's package checker: no error, no warning. Its tags come on standard output.
tags=$(lintian "$deb")
if [[ -n "$tags" ]]; then
  echo "FAIL lintian on $deb:"
  echo "$tags"
  exit 1
fi
echo "ok lintian finds nothing in $deb"

# The release: scripts/release.sh with throwaway keys, its refusals, an interrupted run,
# and releases signed with a PKCS#12 file and on a token whose programs, their signatures
# removed, are the product builds above.
tests/release/run.sh "$product_images" "$product" build/windows-product/ui/cli/escupdate.exe
