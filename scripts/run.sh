#!/usr/bin/env bash
# Builds the Windows program and runs the updater on the simulated programming unit.
#
# With a display ($DISPLAY set), EscUpdaterSim.exe opens under Wine: the updater's window
# beside "Simulated programming unit", which plugs the unit in and out and sets what it
# reports. Without a display, a scripted session (start-up, a full update, a failed one)
# runs on a virtual display and leaves its screenshots in build/windows/screenshots/.
# Then escupdate, the command line, shows info and an update on the simulated unit, and
# the web updater runs in Chromium (or leaves screenshots in build/web/screenshots/).
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
  wine build/windows/ui/sim/EscUpdaterSim.exe
else
  tests/wine/run.sh build/windows --only startup_without_unit --only supported_unit_is_ready \
    --only full_update --only failing_data_block
fi

# The command line, escupdate, on the simulated unit: what it finds, then a whole update
# (on the emulator's virtual clock; drop ",clock=virtual" to see it take its 43 s).
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" >/dev/null
escupdate=build/linux-release/ui/cli/escupdate
echo "== $escupdate info --simulate"
"$escupdate" info --simulate
echo "== $escupdate update --yes --simulate=clock=virtual"
"$escupdate" update --yes --simulate=clock=virtual

# The updater in the browser, on the simulated unit. With a display, Chromium opens the
# page served on 127.0.0.1 (a secure origin for WebHID) until Ctrl-C; without one,
# screenshots of it land in build/web/screenshots/.
cmake --preset web >/dev/null
cmake --build --preset web -j "$(nproc)" >/dev/null
echo "The web updater: build/web/site/ (the simulated unit beside it: build/web/simulate/)"
if [[ -n ${DISPLAY:-} ]]; then
  port=8417
  echo "== http://127.0.0.1:$port/site/index.html?simulate (Ctrl-C ends the server)"
  chromium "http://127.0.0.1:$port/site/index.html?simulate" >/dev/null 2>&1 &
  /usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web
else
  /usr/bin/python3 tests/web/screenshots.py build/web build/web/screenshots
fi
