#!/usr/bin/env bash
# Runs the Windows platform probe under Wine in a fresh prefix, after checking its import
# table. Usage: tests/wine/platform_probe.sh [windows-build-dir]   (default build/windows)
# Set WINEPREFIX to reuse a prefix that `wineboot -i` has already prepared.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/windows}" && pwd)
probe=$build/wine/platform_probe.exe
[ -f "$probe" ] || { echo "missing $probe: build the Windows tree first" >&2; exit 2; }

"$here/platform_import_check.sh" "$probe"

export WINEDEBUG=-all
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/esc-wine-probe.XXXXXX")
  export WINEPREFIX
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
  wineboot -i >/dev/null 2>&1
fi
wine "$probe"
