#!/usr/bin/env bash
# Tests scripts/release.sh with throwaway keys made here: a CA with code-signing
# certificates (valid, expired, for web servers only) in PKCS#12 files and on a SoftHSM
# token, and an OpenPGP key in a temporary GNUPGHOME.
#
#   tests/release/run.sh <images> <EscUpdater.exe> <escupdate.exe>
#
# <images> holds stand-ins for the firmware with their SHA256SUMS; the two programs are
# unsigned builds from them (with the default vendor id, in their build folder, whose
# CMakeCache.txt gives the version) that the signed ones, with their signatures removed,
# must equal. The release script runs in a copy of the work tree committed as it is, so
# that uncommitted changes are tested too.
#
# First the refusals, which all come before any build: each must exit 1 with its message
# and leave no release folder. Then a run that is interrupted while it builds, a release
# signed with the PKCS#12 file and the OpenPGP key, and one signed on the token.
set -euo pipefail

[[ $# -eq 3 ]] || { echo "usage: $0 <images> <EscUpdater.exe> <escupdate.exe>" >&2; exit 2; }
images=$(realpath "$1")
unsigned_gui=$(realpath "$2")
unsigned_cli=$(realpath "$3")
# The version the release must carry: the project's in the build of the unsigned programs.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${unsigned_gui%/ui/win32/*}/CMakeCache.txt")
[[ -n $version ]] || { echo "no project version in the build of $unsigned_gui" >&2; exit 2; }
cd "$(dirname "$0")/../.."

work=$(mktemp -d "${TMPDIR:-/tmp}/esc-release-test.XXXXXX")
export GNUPGHOME=$work/gnupg SOFTHSM2_CONF=$work/softhsm2.conf
tsa_pid=''
cleanup() {
  gpgconf --kill gpg-agent 2>/dev/null || true
  [[ -z $tsa_pid ]] || kill "$tsa_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/report.sh
source tests/report.sh

# The runs build the same commit again and again: ccache, where installed, shares the work.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi

echo "== a committed copy of the work tree"
src=$work/src
mkdir "$src"
git ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$src"
git -C "$src" init -q
git -C "$src" add -A
git -C "$src" -c user.name=test -c user.email=test@example.invalid commit -q -m snapshot
release=$src/scripts/release.sh

echo "== throwaway keys"
keys=$work/keys
mkdir "$keys"
# certificate <name> <days> <extended key usage>: a key and a certificate from the CA,
# with the key in <name>.p12 under the password "test password" too.
certificate() {
  openssl req -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.csr" \
    -subj "/CN=Release test $1" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
    "$3" >"$keys/$1.ext"
  openssl x509 -req -in "$keys/$1.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" \
    -CAcreateserial -days "$2" -extfile "$keys/$1.ext" -out "$keys/$1.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$keys/$1.key" -in "$keys/$1.pem" -certfile "$keys/ca.pem" \
    -passout pass:"test password" -out "$keys/$1.p12"
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/ca.key" -out "$keys/ca.pem" -days 2 \
  -subj "/CN=Release test CA" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
certificate signer 1 codeSigning
certificate expired 0 codeSigning
certificate server 1 serverAuth
certificate tsa 1 critical,timeStamping
# A PKCS#12 file as older tools write it, with ciphers of OpenSSL 3's legacy provider.
openssl pkcs12 -export -legacy -inkey "$keys/signer.key" -in "$keys/signer.pem" \
  -certfile "$keys/ca.pem" -passout pass:"test password" -out "$keys/legacy.p12"
# A certificate valid for 0 days ends the second it was made.
sleep 1

# A time-stamp server of our own, signing with the tsa certificate.
cat >"$keys/tsa.cnf" <<EOF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $keys/tsa.serial
signer_cert = $keys/tsa.pem
signer_key = $keys/tsa.key
certs = $keys/ca.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
EOF
echo 01 >"$keys/tsa.serial"
tests/release/tsa_server.py "$keys/tsa.cnf" "$work/tsa.port" &
tsa_pid=$!
for _ in $(seq 100); do
  [[ -s $work/tsa.port ]] && break
  sleep 0.1
done
[[ -s $work/tsa.port ]] || { echo "the time-stamp server did not start" >&2; exit 1; }
tsa_url=http://127.0.0.1:$(cat "$work/tsa.port")/

mkdir -m 700 "$GNUPGHOME"
gpg --batch --passphrase '' --quick-gen-key "Release test <release@example.invalid>" \
  ed25519 sign 1d 2>/dev/null
gpg_key=$(gpg --batch --with-colons --list-secret-keys 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }')

module=/usr/lib/softhsm/libsofthsm2.so
mkdir "$work/tokens"
echo "directories.tokendir = $work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label release-test --pin 1234 --so-pin 5678 >/dev/null
softhsm2-util --import "$keys/signer.key" --token release-test --label signer --id 01 \
  --pin 1234 >/dev/null
openssl x509 -in "$keys/signer.pem" -outform DER -out "$keys/signer.der"
pkcs11-tool --module "$module" --token-label release-test --login --pin 1234 \
  --write-object "$keys/signer.der" --type cert --id 01 --label signer >/dev/null 2>&1
token_cert="pkcs11:token=release-test;object=signer;type=cert"

# Images that must be refused: placeholders, one missing, one changed after its
# SHA256SUMS line was made, and none with no SHA256SUMS at all.
python3 resources/firmware/firmware_images.py placeholders "$work/placeholders"
(cd "$work/placeholders" && sha256sum -- *.bin >SHA256SUMS)
for name in missing changed unsummed; do cp -r "$images" "$work/$name"; done
rm "$work/missing/122.bin"
printf 'x' | dd of="$work/changed/151.bin" bs=1 seek=100 conv=notrunc 2>/dev/null
rm "$work/unsummed/SHA256SUMS"

out=$work/out/release
mkdir "$work/out"
# no_release: nothing of a release is left, neither the folder nor a partial one.
no_release() {
  [[ ! -e $out && -z $(ls -A "$work/out") ]]
}

echo "== refusals before any build"
p12=(--pkcs12 "$keys/signer.p12" --chain "$keys/ca.pem")
unreachable=http://127.0.0.1:9/
# Each row: what | password (- for none) | the message, part of it | the arguments.
refusals=(
  "wrong password|wrong|does not open with the password in ESC_SIGN_PASSWORD|${p12[*]}"
  "no password|-|set the PKCS#12 file's password in the environment variable|${p12[*]}"
  "expired certificate|test password|expired on|--pkcs12 $keys/expired.p12 --chain $keys/ca.pem"
  "certificate for web servers|test password|is not for code signing|--pkcs12 $keys/server.p12 --chain $keys/ca.pem"
  "wrong chain|test password|does not verify against|--pkcs12 $keys/signer.p12 --chain $keys/server.pem"
  "missing token module|1234|/nonexistent/module.so does not exist|--pkcs11-module /nonexistent/module.so --pkcs11-cert $token_cert"
  "missing token|1234|the certificate cannot sign|--pkcs11-module $module --pkcs11-cert pkcs11:token=absent;object=signer;type=cert --chain $keys/ca.pem"
  "time-stamp server unreachable|test password|no time-stamp server answered ($unreachable)|${p12[*]} --timestamp $unreachable"
  "time-stamp fallback unreachable too|test password|no time-stamp server answered ($unreachable http://127.0.0.1:1/)|${p12[*]} --timestamp $unreachable --timestamp http://127.0.0.1:1/"
  "unknown OpenPGP key|-|no OpenPGP secret key absent@example.invalid|--gpg-key absent@example.invalid"
  "legacy PKCS#12 file: opens, signs, then the unknown key|test password|no OpenPGP secret key absent@example.invalid|--pkcs12 $keys/legacy.p12 --chain $keys/ca.pem --gpg-key absent@example.invalid"
  "placeholder images|-|holds placeholder images|--images $work/placeholders"
  "missing image|-|image 122 is missing|--images $work/missing"
  "image changed|-|do not match their SHA256SUMS|--images $work/changed"
  "no SHA256SUMS|-|has no SHA256SUMS|--images $work/unsummed"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r what password message arguments <<<"$row"
  read -ra arguments <<<"$arguments"
  environment=(env -u ESC_SIGN_PASSWORD)
  [[ $password == - ]] || environment+=(ESC_SIGN_PASSWORD="$password")
  status=0
  "${environment[@]}" "$release" --images "$images" --out "$out" "${arguments[@]}" \
    >"$work/log" 2>&1 || status=$?
  before=$failures
  if [[ $status -ne 1 ]]; then
    report FAIL "$what: exit status $status, not 1"
  elif ! grep -qF -- "$message" "$work/log"; then
    report FAIL "$what: no message \"$message\""
  elif ! no_release; then
    report FAIL "$what: a release folder was left"
  elif grep -q '^== building' "$work/log"; then
    report FAIL "$what: refused only after building"
  else
    report ok "$what: refused before building"
  fi
  [[ $failures -eq $before ]] || sed 's/^/    /' "$work/log"
done

# Each row: what | the message, part of it | the arguments after --images and --out.
usage_errors=(
  "vendor id of five digits|--vendor-id takes four hex digits|--vendor-id 0x12345"
  "two kinds of key|exclude each other|--pkcs12 $keys/signer.p12 --pkcs11-module $module"
  "token module without certificate|go together|--pkcs11-module $module"
  "time stamp without certificate|--timestamp needs a certificate|--timestamp $unreachable"
  "unknown argument|unknown argument: --sign|--sign"
)
for row in "${usage_errors[@]}"; do
  IFS='|' read -r what message arguments <<<"$row"
  read -ra arguments <<<"$arguments"
  status=0
  "$release" --images "$images" --out "$out" "${arguments[@]}" >"$work/log" 2>&1 || status=$?
  if [[ $status -eq 2 ]] && grep -qF -- "$message" "$work/log" && no_release; then
    report ok "$what: a usage error"
  else
    report FAIL "$what: exit status $status, not 2, or no message \"$message\""
    sed 's/^/    /' "$work/log"
  fi
done
if [[ $("$release" --help) == 'Usage: scripts/release.sh --images DIR --out DIR'* ]]; then
  report ok "--help shows the usage"
else
  report FAIL "--help"
fi

touch "$src/stray"
status=0
"$release" --images "$images" --out "$out" >"$work/log" 2>&1 || status=$?
if [[ $status -eq 1 ]] && grep -qF "changes that are not committed" "$work/log" && no_release; then
  report ok "a work tree with changes is refused"
else
  report FAIL "a work tree with changes: exit status $status"
fi
rm "$src/stray"

echo "== a run interrupted while it builds"
status=0
TMPDIR=$work/tmp
mkdir "$TMPDIR"
export TMPDIR
"$release" --images "$images" --out "$out" >"$work/log" 2>&1 &
pid=$!
for _ in $(seq 600); do
  grep -q '^== building EscUpdater' "$work/log" && break
  sleep 0.1
done
sleep 2
kill -TERM "$pid" 2>/dev/null || true
wait "$pid" || status=$?
if [[ $status -eq 143 ]] && grep -qF "terminated; no release was made" "$work/log" &&
  no_release && [[ -z $(ls -A "$TMPDIR") ]]; then
  report ok "SIGTERM while building ends the run at once, with nothing left behind"
else
  report FAIL "SIGTERM while building: exit status $status, left: $(ls -A "$work/out" "$TMPDIR")"
  sed 's/^/    /' "$work/log"
fi
unset TMPDIR

# check_release <what> <signed: no, yes or time-stamped>: the release in $out.
check_release() {
  local what=$1 signed=$2 program unsigned
  for program in EscUpdater.exe escupdate.exe; do
    [[ $program == EscUpdater.exe ]] && unsigned=$unsigned_gui || unsigned=$unsigned_cli
    if [[ $signed == no ]]; then
      if cmp -s "$out/$program" "$unsigned"; then
        report ok "$what: $program is the unsigned build"
      else
        report FAIL "$what: $program differs from the unsigned build"
      fi
      continue
    fi
    if ! osslsigncode verify -CAfile "$keys/ca.pem" -TSA-CAfile "$keys/ca.pem" -in "$out/$program" \
      >"$work/verify.log" 2>&1; then
      report FAIL "$what: the signature of $program does not verify"
      sed 's/^/    /' "$work/verify.log"
    elif [[ $signed == time-stamped ]] &&
      ! grep -q 'Timestamp Server Signature verification: ok' "$work/verify.log"; then
      report FAIL "$what: $program has no time stamp"
    elif [[ $signed == yes ]] && grep -q 'Timestamp time' "$work/verify.log"; then
      report FAIL "$what: $program has a time stamp that nobody asked for"
    else
      report ok "$what: the signature of $program verifies against the throwaway CA ($signed)"
    fi
    osslsigncode remove-signature -in "$out/$program" -out "$work/stripped.exe" >/dev/null
    if cmp "$work/stripped.exe" "$unsigned"; then
      report ok "$what: $program without its signature equals the unsigned build"
    else
      report FAIL "$what: $program without its signature differs from the unsigned build"
    fi
    rm "$work/stripped.exe"
  done
  if (cd "$out" && sha256sum --quiet --strict -c SHA256SUMS) &&
    [[ $(wc -l <"$out/SHA256SUMS") -eq $(find "$out" -type f ! -name 'SHA256SUMS*' | wc -l) ]]; then
    report ok "$what: SHA256SUMS checks and covers every file"
  else
    report FAIL "$what: SHA256SUMS"
  fi
  local commit deb
  commit=$(git -C "$src" rev-parse HEAD)
  deb=$out/escupdate_${version}_amd64.deb
  if [[ -f $deb ]] && grep -qx "ESC firmware updater $version" "$out/RELEASE.txt" &&
    grep -qx "commit $commit" "$out/RELEASE.txt" &&
    [[ $(grep -c '^  [0-9a-f]\{64\} [ *][0-9]*\.bin$' "$out/RELEASE.txt") -eq 7 ]] &&
    grep -q "^  g++-mingw-w64-x86-64-posix [0-9]" "$out/RELEASE.txt"; then
    report ok "$what: the package and RELEASE.txt name version $version, the commit and the 7 images"
  else
    report FAIL "$what: the package or RELEASE.txt"
    sed 's/^/    /' "$out/RELEASE.txt"
  fi
  if cmp -s "$out/LICENSE" /usr/share/common-licenses/Apache-2.0 &&
    grep -q 'GCC RUNTIME LIBRARY EXCEPTION' "$out"/notices/*.copyright &&
    grep -q 'nlohmann' "$out"/notices/nlohmann-json3-dev.copyright &&
    grep -q 'winpthreads' "$out"/notices/mingw-w64-x86-64-dev.copyright &&
    cmp -s "$out/notices/GPL-3" /usr/share/common-licenses/GPL-3; then
    report ok "$what: LICENSE and the notices of GCC's runtime, MinGW-w64 and the JSON library"
  else
    report FAIL "$what: LICENSE or notices"
  fi
}

echo "== a release without a certificate"
if "$release" --images "$images" --out "$out" >"$work/log" 2>&1 &&
  grep -qF "NOT SIGNED: no certificate was given" "$work/log" &&
  grep -qx "EscUpdater.exe and escupdate.exe are not signed" "$out/RELEASE.txt"; then
  report ok "the unsigned release is made and says so"
  check_release "unsigned" no
else
  report FAIL "the unsigned release"
  sed 's/^/    /' "$work/log"
fi
rm -rf "$out"

echo "== a release signed with the PKCS#12 file, time-stamped by the fallback, and the OpenPGP key"
if ESC_SIGN_PASSWORD="test password" "$release" --images "$images" --out "$out" "${p12[@]}" \
  --timestamp "$unreachable" --timestamp "$tsa_url" --tsa-chain "$keys/ca.pem" \
  --gpg-key "$gpg_key" >"$work/log" 2>&1 &&
  grep -qF "the time-stamp server $unreachable did not answer" "$work/log"; then
  report ok "the signed release is made, time-stamped by the second server"
  check_release "PKCS#12" time-stamped
  if gpg --batch --verify "$out/SHA256SUMS.asc" "$out/SHA256SUMS" 2>/dev/null; then
    report ok "SHA256SUMS.asc verifies"
  else
    report FAIL "SHA256SUMS.asc does not verify"
  fi
  printf '0' >>"$out/SHA256SUMS"
  if gpg --batch --verify "$out/SHA256SUMS.asc" "$out/SHA256SUMS" 2>/dev/null; then
    report FAIL "SHA256SUMS.asc verifies a changed SHA256SUMS"
  else
    report ok "SHA256SUMS.asc does not verify a changed SHA256SUMS"
  fi
else
  report FAIL "the signed release failed"
  sed 's/^/    /' "$work/log"
fi
rm -rf "$out"

echo "== a release signed on the token"
if ESC_SIGN_PASSWORD=1234 "$release" --images "$images" --out "$out" --pkcs11-module "$module" \
  --pkcs11-cert "$token_cert" --chain "$keys/ca.pem" >"$work/log" 2>&1; then
  report ok "the release signed on the token is made"
  check_release "PKCS#11" yes
else
  report FAIL "the release signed on the token failed"
  sed 's/^/    /' "$work/log"
fi

echo "release tests: $failures failed"
[[ $failures -eq 0 ]]
