#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, skipping those already
# present. Run as root (or through sudo) on Debian 12.
#   scripts/install-deps.sh          native build and tests, MinGW-w64 cross build
#   scripts/install-deps.sh --wine   additionally Wine, Xvfb and ImageMagick for the
#                                    Windows program's tests and screenshots
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config googletest libgtest-dev libgmock-dev
  clang-format g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  python3)
# Fuzzing with clang's libFuzzer, clang-tidy and valgrind's memcheck (scripts/fuzz.sh,
# scripts/tidy.sh, scripts/valgrind.sh).
packages+=(clang-14 libclang-rt-14-dev clang-tidy-14 valgrind)
# The Linux backend lists hidraw nodes and follows hot-plug events with libudev.
packages+=(libudev-dev)
if [[ "${1:-}" == "--wine" ]]; then
  packages+=(wine wine64 xvfb xauth imagemagick x11-utils)
fi

# escupdate: the JSON library (header-only, used by the MinGW build too) and
# dpkg-shlibdeps for its Debian package.
packages+=(nlohmann-json3-dev dpkg-dev)
# escupdate's manual page is made from its help; lintian checks its Debian package.
packages+=(help2man lintian)

# scripts/release.sh: Authenticode signatures, checks of certificates, the OpenPGP
# signature; its test (tests/release/run.sh) signs on a SoftHSM token through OpenSSL's
# PKCS#11 engine, stores the certificate there with OpenSC's pkcs11-tool, and shares its
# builds through ccache.
packages+=(osslsigncode openssl gnupg softhsm2 libengine-pkcs11-openssl opensc ccache)

# The updater in the browser: emscripten (its optimizer needs Debian's acorn), and
# headless Chromium driven by Debian's Selenium for the browser tests and screenshots.
packages+=(emscripten node-acorn chromium chromium-driver python3-selenium)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
