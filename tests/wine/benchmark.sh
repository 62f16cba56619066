#!/usr/bin/env bash
# Times full updates on the emulated unit under Wine, paced by the Windows program's own
# waits, and prints each as a ratio to the 42,700 ms of waits an update must make.
#
#   tests/wine/benchmark.sh [windows-build-dir] [runs]
#
# windows-build-dir defaults to build/windows, runs to 3.
# Runs in a fresh Wine prefix; needs no display. Each run lasts about 43 s.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/windows}" && pwd)
shift || true
runs=${1:-3}
shift || true
benchmark=$build/wine/esc_wine_benchmark.exe
[[ -f $benchmark ]] || { echo "missing $benchmark: build the windows preset first" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/esc-wine-benchmark.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
timeout 300 wineboot -i >/dev/null 2>&1
timeout $((runs * 120 + 60)) wine "$benchmark" "$runs" "$@" | tr -d '\r'
