#!/usr/bin/env bash
# Checks that the DLLs loaded for the programs once they run come from System32, never
# from the program's folder: each program makes System32 the only default DLL folder first
# thing, so that a DLL planted beside it is not taken even when a Windows component loads
# it on the program's behalf (as the common controls load uxtheme.dll). A uxtheme.dll is
# planted beside a copy of each program; Wine's loader trace tells where each DLL was found.
# Usage: tests/wine/program_dll_search.sh <windows-build-dir>
# Needs DISPLAY and a WINEPREFIX that `wineboot -i` has prepared, as run.sh provides.
set -euo pipefail
build=$(cd "$1" && pwd)
planted=$build/wine/planted/hid.dll
programs=("$build/ui/win32/EscUpdater.exe" "$build/ui/sim/EscUpdaterSim.exe")
for file in "$planted" "${programs[@]}"; do
  [ -f "$file" ] || { echo "missing $file: build the Windows tree first" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/esc-dll-search.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

status=0
for program in "${programs[@]}"; do
  name=$(basename "$program")
  folder=$work/${name%.exe}
  mkdir -p "$folder"
  cp "$program" "$folder/"
  cp "$planted" "$folder/uxtheme.dll"
  trace=$work/${name%.exe}.trace
  (cd "$folder" && exec env WINEDEBUG=+loaddll wine "./$name" >"$trace" 2>&1) &
  pid=$!
  # The themes library comes with the common controls, which the program loads before its
  # dialog opens.
  for _ in $(seq 300); do
    grep -q 'uxtheme.dll"' "$trace" && break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
  loaded=$(sed -n 's/.*Loaded L"\([^"]*uxtheme\.dll\)".*/\1/p' "$trace" | head -1)
  if [ -z "$loaded" ]; then
    echo "FAIL $name did not load uxtheme.dll within 30 s"
    status=1
  elif [[ ${loaded,,} == *system32* ]]; then
    echo "ok   $name takes uxtheme.dll from System32 ($loaded)"
  else
    echo "FAIL $name found uxtheme.dll at $loaded, not in System32"
    status=1
  fi
done
[ $status -eq 0 ] && echo "PASS: DLL search check" || echo "FAIL: DLL search check"
exit $status
