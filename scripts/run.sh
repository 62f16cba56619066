#!/usr/bin/env bash
# Builds the Windows program and runs the updater on the simulated programming unit.
#
# With a display ($DISPLAY set), EscUpdaterSim.exe opens under Wine: the updater's window
# beside "Simulated programming unit", which plugs the unit in and out and sets what it
# reports. Without a display, a scripted session (start-up, a full update, a failed one)
# runs on a virtual display and leaves its screenshots in build/windows/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --wine
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"

echo "The product: build/windows/ui/win32/EscUpdater.exe"
echo "The simulator: build/windows/ui/sim/EscUpdaterSim.exe"
if [[ -n ${DISPLAY:-} ]]; then
  # The user's Wine prefix (WINEPREFIX, or ~/.wine), made on first use without the .NET
  # and HTML engines, which the program does not need.
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  exec wine build/windows/ui/sim/EscUpdaterSim.exe
fi
tests/wine/run.sh build/windows --only startup_without_unit --only supported_unit_is_ready \
  --only full_update --only failing_data_block
