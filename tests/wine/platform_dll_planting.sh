#!/usr/bin/env bash
# Checks that a hid.dll planted beside the program is never loaded by the platform.
# The planted DLL leaves a marker file beside itself when anything loads it. First a
# control run loads "hid.dll" the ordinary way and must leave the marker, which shows that
# the plant is effective; then the probe runs beside the plant and must leave none.
# Usage: tests/wine/platform_dll_planting.sh [windows-build-dir]   (default build/windows)
# Set WINEPREFIX to reuse a prefix that `wineboot -i` has already prepared.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/windows}" && pwd)
probe=$build/wine/platform_probe.exe
planted=$build/wine/planted/hid.dll
for file in "$probe" "$planted"; do
  [ -f "$file" ] || { echo "missing $file: build the Windows tree first" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/esc-planting.XXXXXX")
cleanup() { rm -rf "$work"; }
export WINEDEBUG=-all
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$work/prefix
  export WINEPREFIX
  cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"; }
  wineboot -i >/dev/null 2>&1
fi
trap cleanup EXIT

folder=$work/program
mkdir -p "$folder"
cp "$probe" "$planted" "$folder/"
marker=$folder/planted-hid-loaded.txt
status=0

# Without the marker in the control run, the check below would prove nothing.
(cd "$folder" && wine ./platform_probe.exe --plain-load-control) || true
if [ -f "$marker" ]; then
  echo "ok   control: an ordinary LoadLibrary takes the planted hid.dll"
else
  echo "FAIL control: the planted hid.dll was not loaded even by an ordinary LoadLibrary"
  status=1
fi
rm -f "$marker"

if (cd "$folder" && wine ./platform_probe.exe); then
  echo "ok   the probe passes with a hid.dll planted beside it"
else
  echo "FAIL the probe fails with a hid.dll planted beside it"
  status=1
fi
if [ -f "$marker" ]; then
  echo "FAIL the planted hid.dll was loaded"
  status=1
else
  echo "ok   the planted hid.dll was not loaded"
fi
[ $status -eq 0 ] && echo "PASS: DLL planting check" || echo "FAIL: DLL planting check"
exit $status
