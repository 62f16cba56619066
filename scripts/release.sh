#!/usr/bin/env bash
# Makes a release of the updater from the commit checked out: both Windows programs and
# the Linux package built with the firmware owner's images, the web folder where the
# project has one, notices, checksums and, when given the keys, Authenticode and OpenPGP
# signatures. Run it with --help for its options.
#
# Everything is checked before anything is shown as done: the output is put together in
# a hidden folder beside --out and renamed to --out only when every build, signature and
# check has passed. A failure or an interruption leaves no --out behind.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/release.sh --images DIR --out DIR [options]

Builds a release from the commit checked out (the work tree must be clean):
EscUpdater.exe and escupdate.exe for Windows, escupdate's Debian package and, where the
project has a web preset, the web folder as one archive, all with the firmware images
in --images; then LICENSE, the notices of what the programs carry, RELEASE.txt and
SHA256SUMS over every file.

  --images DIR            the real firmware images, <id>.bin each, with their
                          SHA256SUMS (sha256sum *.bin > SHA256SUMS)
  --out DIR               the release folder to make; it must not exist yet
  --vendor-id 0xNNNN      the programming unit's USB vendor id (default: the build's)

Authenticode signature of both .exe (SHA-256), without which the release is unsigned:
  --pkcs12 FILE           certificate and key; the password is read from the
                          environment variable ESC_SIGN_PASSWORD, never from the
                          command line
  --pkcs11-module LIB     a PKCS#11 token's module, with
  --pkcs11-cert URI       the certificate on the token (a pkcs11: URI); the key is
                          found by the same URI without its type; the PIN, when the
                          token needs one, in ESC_SIGN_PASSWORD
  --chain FILE            CA certificates (PEM) that the signatures are verified
                          against (default: the system's, /etc/ssl/certs)
  --timestamp URL         an RFC 3161 time-stamp server; give it again for fallbacks,
                          tried in that order. When none answers, the release fails.
  --tsa-chain FILE        CA certificates (PEM) of the time-stamp servers (default:
                          the system's)

  --gpg-key ID            also sign SHA256SUMS with this OpenPGP key
                          (SHA256SUMS.asc, detached and armored)
  --help                  this text

Exit status: 0 the release is in --out, 1 refused or failed (nothing in --out),
2 usage error.
EOF
}

fail() {
  echo "release: $*" >&2
  exit 1
}
usage_error() {
  echo "release: $*" >&2
  echo "Try: $0 --help" >&2
  exit 2
}

images='' out='' vendor_id='' pkcs12='' pkcs11_module='' pkcs11_cert='' gpg_key=''
chain=/etc/ssl/certs/ca-certificates.crt
tsa_chain=/etc/ssl/certs/ca-certificates.crt
timestamps=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --help) usage; exit 0 ;;
    --images | --out | --vendor-id | --pkcs12 | --pkcs11-module | --pkcs11-cert | --chain | \
      --timestamp | --tsa-chain | --gpg-key)
      [[ $# -ge 2 && -n $2 ]] || usage_error "$1 needs a value"
      case $1 in
        --images) images=$2 ;;
        --out) out=$2 ;;
        --vendor-id) vendor_id=$2 ;;
        --pkcs12) pkcs12=$2 ;;
        --pkcs11-module) pkcs11_module=$2 ;;
        --pkcs11-cert) pkcs11_cert=$2 ;;
        --chain) chain=$2 ;;
        --timestamp) timestamps+=("$2") ;;
        --tsa-chain) tsa_chain=$2 ;;
        --gpg-key) gpg_key=$2 ;;
      esac
      shift 2
      ;;
    *) usage_error "unknown argument: $1" ;;
  esac
done
[[ -n $images ]] || usage_error "--images DIR is required"
[[ -n $out ]] || usage_error "--out DIR is required"
[[ -z $vendor_id || $vendor_id =~ ^0[xX][0-9A-Fa-f]{4}$ ]] ||
  usage_error "--vendor-id takes four hex digits, such as 0x1234, not $vendor_id"
if [[ -n $pkcs12 && -n $pkcs11_module$pkcs11_cert ]]; then
  usage_error "--pkcs12 and --pkcs11-module/--pkcs11-cert exclude each other"
fi
if [[ -n $pkcs11_module$pkcs11_cert && ( -z $pkcs11_module || -z $pkcs11_cert ) ]]; then
  usage_error "--pkcs11-module and --pkcs11-cert go together"
fi
signing=$pkcs12$pkcs11_module
if [[ -z $signing && ${#timestamps[@]} -gt 0 ]]; then
  usage_error "--timestamp needs a certificate (--pkcs12 or --pkcs11-module)"
fi

[[ -d $(dirname "$out") ]] || fail "the folder $(dirname "$out") for --out does not exist"
out=$(realpath -m "$out")
[[ ! -e $out ]] || fail "$out already exists: give a new folder for the release"
[[ -d $images ]] || fail "the images folder $images does not exist"
images=$(realpath "$images")
if [[ -n $signing ]]; then
  for file in "$chain" "$tsa_chain" ${pkcs12:+"$pkcs12"} ${pkcs11_module:+"$pkcs11_module"}; do
    [[ -f $file ]] || fail "$file does not exist"
  done
  chain=$(realpath "$chain")
  tsa_chain=$(realpath "$tsa_chain")
  [[ -z $pkcs12 ]] || pkcs12=$(realpath "$pkcs12")
  [[ -z $pkcs11_module ]] || pkcs11_module=$(realpath "$pkcs11_module")
fi
cd "$(dirname "$0")/.."

# Two folders of our own, removed on any exit: the work (sources, builds, the password
# file) in the temporary folder, and the release being put together beside --out, so
# that the last step is a rename within one file system.
work=$(mktemp -d "${TMPDIR:-/tmp}/esc-release.XXXXXX")
staging=''
child=''
cleanup() {
  rm -rf "$work"
  [[ -z $staging ]] || rm -rf "$staging"
}
# A build runs as a job of its own (run below), so that a signal ends it with the script
# instead of waiting for it to finish.
stop() {
  echo "release: $1; no release was made" >&2
  if [[ -n $child ]]; then
    kill -TERM -- "-$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'stop interrupted; exit 130' INT
trap 'stop terminated; exit 143' TERM HUP

step() { echo "== $*"; }

# checked <message> <command...>: a short step whose output goes to a log, shown with the
# message when the command fails.
checked() {
  local message=$1 log=$work/checked.log
  shift
  "$@" >"$log" 2>&1 || {
    sed 's/^/  /' "$log" >&2
    fail "$message"
  }
}

# run <log name> <command...>: a long step, with its output in a log whose end is shown
# when the step fails.
run() {
  local log=$work/$1.log status=0
  shift
  set -m
  "$@" >"$log" 2>&1 &
  child=$!
  set +m
  wait "$child" || status=$?
  child=''
  if ((status != 0)); then
    tail -n 40 "$log" | sed 's/^/  /' >&2
  fi
  return "$status"
}

step "checking the sources and the images"
[[ -z $(git status --porcelain) ]] ||
  fail "the work tree has changes that are not committed (see git status); a release is built from a commit alone"
commit=$(git rev-parse HEAD)

[[ -f $images/SHA256SUMS ]] ||
  fail "$images has no SHA256SUMS; make it beside the images with: sha256sum *.bin > SHA256SUMS"
# Missing images, wrong sizes and placeholders in place of the firmware.
if ! python3 resources/firmware/firmware_images.py check "$images" 2>"$work/images.log"; then
  sed 's/^/  /' "$work/images.log" >&2
  fail "the images in $images cannot be released (above)"
fi
image_ids=$(python3 resources/firmware/firmware_images.py ids)
image_files=${image_ids//;/.bin;}.bin
if ! cmake -DIMAGE_DIR="$images" -DIMAGE_FILES="$image_files" \
  -P resources/firmware/firmware_sums.cmake >"$work/sums.log" 2>&1; then
  grep -v '^CMake Error\|^$' "$work/sums.log" | sed 's/^ */  /' >&2
  fail "the images in $images do not match their SHA256SUMS (above)"
fi

# The signing key is tried on a small program before the long builds: a wrong password,
# a missing token, a certificate that cannot sign code or an unreachable time-stamp
# server then cost seconds.
sign_options=()
if [[ -n $signing ]]; then
  step "checking the signing certificate"
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/install-deps.sh installs it)"
  password_file=$work/password
  (umask 077 && printf '%s' "${ESC_SIGN_PASSWORD:-}" >"$password_file")
  if [[ -n $pkcs12 ]]; then
    [[ -n ${ESC_SIGN_PASSWORD+set} ]] ||
      fail "set the PKCS#12 file's password in the environment variable ESC_SIGN_PASSWORD"
    # Files from older tools use ciphers that OpenSSL 3 keeps in its legacy provider.
    openssl pkcs12 -in "$pkcs12" -passin env:ESC_SIGN_PASSWORD -noout 2>/dev/null ||
      openssl pkcs12 -legacy -in "$pkcs12" -passin env:ESC_SIGN_PASSWORD -noout 2>/dev/null ||
      fail "the PKCS#12 file $pkcs12 does not open with the password in ESC_SIGN_PASSWORD (wrong password?)"
    sign_options=(-pkcs12 "$pkcs12" -readpass "$password_file")
  else
    [[ $pkcs11_cert == pkcs11:* ]] || fail "--pkcs11-cert takes a pkcs11: URI, not $pkcs11_cert"
    key_uri=$(sed -E 's/;type=[a-z-]+//; s/:type=[a-z-]+;?/:/' <<<"$pkcs11_cert")
    sign_options=(-pkcs11module "$pkcs11_module" -pkcs11cert "$pkcs11_cert" -key "$key_uri")
    [[ -z ${ESC_SIGN_PASSWORD+set} ]] || sign_options+=(-readpass "$password_file")
  fi
fi

# sign <unsigned.exe> <signed.exe>: an Authenticode signature with SHA-256 digests, time-
# stamped by the first server that answers, then verified against the chain.
sign() {
  local in=$1 signed=$2 log=$work/sign.log url
  local verify_options=(-CAfile "$chain")
  if [[ ${#timestamps[@]} -eq 0 ]]; then
    checked "signing $(basename "$in") failed (above)" \
      osslsigncode sign "${sign_options[@]}" -h sha256 -in "$in" -out "$signed"
  else
    verify_options+=(-TSA-CAfile "$tsa_chain")
    for url in "${timestamps[@]}"; do
      # A server that takes the connection and never answers must not hold the release.
      if timeout 120 osslsigncode sign "${sign_options[@]}" -h sha256 -ts "$url" -in "$in" \
        -out "$signed" >"$log" 2>&1; then
        break
      fi
      rm -f "$signed"
      echo "release: the time-stamp server $url did not answer" >&2
    done
    if [[ ! -f $signed ]]; then
      sed 's/^/  /' "$log" >&2
      fail "no time-stamp server answered (${timestamps[*]}); without a time stamp the signature would end with the certificate"
    fi
  fi
  checked "the signature of $(basename "$signed") does not verify against $chain (above)" \
    osslsigncode verify "${verify_options[@]}" -in "$signed"
}

if [[ -n $signing ]]; then
  printf 'int main(void) { return 0; }\n' >"$work/trial.c"
  x86_64-w64-mingw32-gcc -s "$work/trial.c" -o "$work/trial.exe"
  checked "the certificate cannot sign (above): check the token, its PIN or the password in ESC_SIGN_PASSWORD" \
    osslsigncode sign "${sign_options[@]}" -h sha256 -in "$work/trial.exe" -out "$work/trial-signed.exe"
  # The signer's certificate, as it went into the trial signature: the only one, or the
  # one that is no CA.
  osslsigncode extract-signature -pem -in "$work/trial-signed.exe" -out "$work/trial.p7" \
    >/dev/null
  openssl pkcs7 -in "$work/trial.p7" -print_certs |
    awk -v dir="$work" '/BEGIN CERTIFICATE/ { n++ } n { print > (dir "/certificate-" n ".pem") }'
  certificates=("$work"/certificate-*.pem)
  for certificate in "${certificates[@]}"; do
    if [[ ${#certificates[@]} -eq 1 ||
      $(openssl x509 -in "$certificate" -noout -ext basicConstraints 2>/dev/null) != *CA:TRUE* ]]; then
      cp "$certificate" "$work/signer.pem"
    fi
  done
  [[ -f $work/signer.pem ]] || fail "the signature holds no signing certificate, only CAs"
  subject=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt RFC2253)
  subject=${subject#subject=}
  openssl x509 -in "$work/signer.pem" -noout -checkend 0 >/dev/null ||
    fail "the signing certificate ($subject) expired on $(openssl x509 -in "$work/signer.pem" -noout -enddate | cut -d= -f2)"
  not_before=$(openssl x509 -in "$work/signer.pem" -noout -startdate | cut -d= -f2)
  [[ $(date -d "$not_before" +%s) -le $(date +%s) ]] ||
    fail "the signing certificate ($subject) is not valid before $not_before"
  [[ $(openssl x509 -in "$work/signer.pem" -noout -ext extendedKeyUsage 2>/dev/null) == *'Code Signing'* ]] ||
    fail "the signing certificate ($subject) is not for code signing (no Code Signing in its extended key usage)"
  sign "$work/trial.exe" "$work/trial-stamped.exe"
fi

if [[ -n $gpg_key ]]; then
  gpg --batch --list-secret-keys "$gpg_key" >/dev/null 2>&1 ||
    fail "no OpenPGP secret key $gpg_key in the keyring (gpg --list-secret-keys)"
fi

step "building commit $commit"
src=$work/src
mkdir "$src"
git archive HEAD | tar -x -C "$src"
cmake_options=(-DESC_FIRMWARE_DIR="$images")
[[ -z $vendor_id ]] || cmake_options+=(-DESC_UNIT_VENDOR_ID="$vendor_id")
jobs=$(nproc)
# Where the caller compiles through ccache, the copy's paths count as its own.
export CCACHE_BASEDIR=$src

build_windows() {
  cd "$src" && cmake --preset windows "${cmake_options[@]}" &&
    cmake --build build/windows -j "$jobs" --target EscUpdater escupdate
}
build_deb() {
  cd "$src" && scripts/build-deb.sh "${cmake_options[@]}"
}
build_web() {
  cd "$src" && cmake --preset web "${cmake_options[@]}" && cmake --build --preset web -j "$jobs"
}
step "building EscUpdater.exe and escupdate.exe"
run windows build_windows || fail "the Windows build failed (the end of its output above)"
step "building the Debian package"
run deb build_deb || fail "the Debian package's build failed (the end of its output above)"
debs=("$src"/build/linux-release/escupdate_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "the Debian package's build made no single .deb"
web=no
if [[ $(cd "$src" && cmake --list-presets=configure) =~ (^|$'\n')\ *\"web\" ]]; then
  step "building the web folder"
  run web build_web || fail "the web build failed (the end of its output above)"
  [[ -d $src/build/web/site ]] || fail "the web build made no build/web/site"
  web=yes
else
  echo "release: this commit has no web preset, so the release holds no web folder"
fi

cache=$src/build/windows/CMakeCache.txt
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache")
vendor=$(sed -n 's/^ESC_UNIT_VENDOR_ID:[A-Z]*=//p' "$cache")
IFS=. read -r major minor patch <<<"$version"

staging=$(mktemp -d "$(dirname "$out")/.$(basename "$out").partial.XXXXXX")
chmod 755 "$staging"
for program in ui/win32/EscUpdater.exe ui/cli/escupdate.exe; do
  unsigned=$src/build/windows/$program
  released=$staging/$(basename "$program")
  if [[ -z $signing ]]; then
    cp "$unsigned" "$released"
    continue
  fi
  step "signing $(basename "$program")"
  sign "$unsigned" "$released"
  osslsigncode remove-signature -in "$released" -out "$work/stripped.exe" >/dev/null
  cmp -s "$work/stripped.exe" "$unsigned" ||
    fail "$(basename "$program") with its signature removed differs from the unsigned build, so the release could not be proven"
  rm "$work/stripped.exe"
done
cp "${debs[0]}" "$staging/"
if [[ $web == yes ]]; then
  # The same bytes for the same site: names sorted, owners and times fixed.
  tar -C "$src/build/web" --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$(git show -s --format=%ct "$commit")" \
    --transform="s|^site|escupdater-web-$version|" -cf - site |
    gzip -n >"$staging/escupdater-web-$version.tar.gz"
fi

step "checking the version in every program"
# Whole outputs are compared, never piped into grep -q: its early exit would fail the
# pipe under pipefail.
[[ $(x86_64-w64-mingw32-windres -i "$staging/EscUpdater.exe" -O rc) == *$'\n'" FILEVERSION $major, $minor, $patch, 0"$'\n'* ]] ||
  fail "EscUpdater.exe's version resource does not give version $version"
deb_version=$(dpkg-deb -f "${debs[0]}" Version)
[[ $deb_version == "$version" ]] || fail "the Debian package has version $deb_version, not $version"

step "gathering the notices"
cp "$src/LICENSE" "$staging/LICENSE"
mkdir "$staging/notices"
# package <file>: the Debian package that installed the file, and its version.
package() {
  dpkg-query -W -f '${Package} ${Version}' "$(dpkg -S "$(realpath "$1")" | head -n 1 | cut -d: -f1)"
}
# notice <file of the toolchain>: copies the Debian copyright file of the package that
# installed it to notices/<package>.copyright, and prints the package and its version.
notice() {
  local installed
  installed=$(package "$1")
  cp "/usr/share/doc/${installed% *}/copyright" "$staging/notices/${installed% *}.copyright"
  echo "$installed"
}
cxx=x86_64-w64-mingw32-g++
libstdcxx=$(notice "$($cxx -print-file-name=libstdc++.a)")
libgcc=$(notice "$($cxx -print-file-name=libgcc.a)")
mingw=$(notice "$($cxx -print-file-name=libmingw32.a)")
json=$(notice /usr/include/nlohmann/json.hpp)
cp /usr/share/common-licenses/GPL-3 "$staging/notices/GPL-3"
cat >"$staging/NOTICES.txt" <<NOTICES
Besides the updater's own code (LICENSE), the programs carry the work of others. The
Debian copyright files in notices/ give the authors and licences of each in full.

EscUpdater.exe and escupdate.exe are linked statically with
- libstdc++, GCC's C++ library, and libgcc, GCC's runtime: the GNU GPL version 3
  (notices/GPL-3) with the GCC Runtime Library Exception version 3.1, whose text is in
  their copyright files. From $libstdcxx
  and $libgcc.
- the MinGW-w64 runtime with its winpthreads library: the licences listed in its
  copyright file. From $mingw.

escupdate.exe and the Debian package's escupdate include the JSON for Modern C++ library
(nlohmann/json), MIT licence. From $json.
NOTICES

step "writing RELEASE.txt and SHA256SUMS"
toolchain=("$(command -v "$cxx")" "$(command -v x86_64-w64-mingw32-ld)"
  "$($cxx -print-file-name=libmingw32.a)" "$(command -v g++)" "$(command -v cmake)")
[[ -z $signing ]] || toolchain+=("$(command -v osslsigncode)")
if [[ $web == yes ]] && command -v emcc >/dev/null; then
  toolchain+=("$(command -v emcc)")
fi
{
  echo "ESC firmware updater $version"
  echo "commit $commit"
  echo "programming unit's USB vendor id $vendor"
  if [[ -z $signing ]]; then
    echo "EscUpdater.exe and escupdate.exe are not signed"
  else
    echo "EscUpdater.exe and escupdate.exe are signed (Authenticode, SHA-256) by $subject"
  fi
  echo
  if [[ $web == yes ]]; then
    echo "the web folder is escupdater-web-$version.tar.gz"
  else
    echo "no web folder: this commit has no web preset"
  fi
  echo
  echo "toolchain (Debian packages):"
  for file in "${toolchain[@]}"; do
    echo "  $(package "$file")"
  done
  echo
  echo "embedded firmware images (their SHA256SUMS lines):"
  for id in ${image_ids//;/ }; do
    tr -d '\r' <"$images/SHA256SUMS" | grep -E "^[0-9a-fA-F]{64} [ *]$id\.bin\$" | sed 's/^/  /'
  done
} >"$staging/RELEASE.txt"
(
  cd "$staging" &&
    find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >"$work/SHA256SUMS" &&
    mv "$work/SHA256SUMS" SHA256SUMS &&
    sha256sum --quiet -c SHA256SUMS
) || fail "the release's SHA256SUMS do not check"

if [[ -n $gpg_key ]]; then
  step "signing SHA256SUMS with the OpenPGP key $gpg_key"
  checked "gpg could not sign SHA256SUMS (above)" gpg --batch --yes --local-user "$gpg_key" \
    --armor --detach-sign --output "$staging/SHA256SUMS.asc" "$staging/SHA256SUMS"
  checked "the signature SHA256SUMS.asc does not verify (above)" \
    gpg --batch --verify "$staging/SHA256SUMS.asc" "$staging/SHA256SUMS"
fi

mv -T "$staging" "$out"
staging=''
if [[ -z $signing ]]; then
  echo "release: NOT SIGNED: no certificate was given, so Windows warns about both .exe"
fi
echo "release: $version of commit $commit is in $out"
