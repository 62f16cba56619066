#!/usr/bin/env bash
# Runs the Windows program's tests under Wine on a virtual display.
#
#   tests/wine/run.sh <windows-build-dir> [driver options, e.g. --only update]
#
# With driver options, only that one driver pass runs (no passes in other languages).
# Makes a fresh Wine prefix in a temporary folder and starts its own Xvfb, then:
#   1. checks that the product EscUpdater.exe carries no emulator code and that both
#      programs import only DLLs that Windows takes from System32;
#   2. runs the test driver against EscUpdaterSim.exe, then its language test again under
#      a German and a French locale; screenshots land in <windows-build-dir>/screenshots/,
#      the driver's output in <windows-build-dir>/wine/driver*.log;
#   3. checks that both programs take the DLLs loaded once they run from System32 only;
#   4. runs the HID platform probe and the DLL-planting check in the same prefix.
# Exits nonzero when anything failed. Everything it starts is ended on exit.
set -euo pipefail

[[ $# -ge 1 ]] || { echo "usage: $0 <windows-build-dir> [driver options]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift

product=$build/ui/win32/EscUpdater.exe
sim=$build/ui/sim/EscUpdaterSim.exe
driver=$build/wine/esc_wine_driver.exe
for file in "$product" "$sim" "$driver"; do
  [[ -f $file ]] || { echo "missing $file: build the windows preset first" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/esc-wine-tests.XXXXXX")
# No .NET or HTML engine in the prefix: the programs need neither, and wineboot would
# otherwise offer to install them.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
report() {  # report <ok|FAIL> <text>
  echo "$1 $2"
  [[ $1 == ok ]] || failures=$((failures + 1))
}

echo "== the product and the simulator as built"
# The link line names no emulator library, and where the program still has its symbols,
# none of them is the emulator's.
link_line=$(awk '/^build ui\/win32\/EscUpdater.exe:/,/^$/' "$build/build.ninja" 2>/dev/null)
symbols=$(x86_64-w64-mingw32-nm -C "$product" 2>/dev/null || true)
if [[ -z $link_line ]]; then
  report FAIL "no link line for EscUpdater.exe in $build/build.ninja"
elif grep -q 'esc_emulator' <<<"$link_line"; then
  report FAIL "EscUpdater.exe is linked with the emulator"
elif grep -q 'esc::sim::' <<<"$symbols"; then
  report FAIL "EscUpdater.exe contains emulator code"
else
  report ok "EscUpdater.exe carries no emulator code"
fi
if "$here/platform_import_check.sh" "$product" "$sim"; then
  report ok "both programs import only DLLs from System32"
else
  report FAIL "import table check"
fi

echo "== virtual display and Wine prefix"
# Xvfb picks a free display itself and writes its number to the given descriptor.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(tr -d '\n' <"$work/display")
timeout 300 wineboot -i >/dev/null 2>&1
# Without a window manager, Wine would wait about 2 s whenever a managed window hides.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
echo "display $DISPLAY, prefix $WINEPREFIX"

echo "== the program under Wine"
shots=$build/screenshots
rm -rf "$shots"
mkdir -p "$shots"
win_sim=$(winepath -w "$sim")
win_shots=$(winepath -w "$shots")

# run_driver <log name> [driver options]: one pass of the driver, answering its screenshot
# requests. Wine gives the program the user-interface language of the Unix locale it starts
# in, so a caller sets LC_ALL for a pass in another language.
# Each pass waits until the previous pass's wineserver has ended. If Wine fails to start
# the driver (the pass ends before the driver's first line), that is no test result: the
# pass is started once more, and says so.
run_driver() {
  local name=$1
  shift
  local log=$build/wine/$name.log
  local status attempt
  for attempt in 1 2; do
    timeout 120 wineserver -w || true
    set +e
    timeout 900 wine "$driver" --sim "$win_sim" --screenshots "$win_shots" "$@" |
      while IFS= read -r line; do
        line=${line%$'\r'}
        if [[ $line == "SCREENSHOT "* ]]; then
          shot=${line#SCREENSHOT }
          import -window root "$shots/$shot.png"
          touch "$shots/$shot.ack"
          echo "  screenshot: $shots/$shot.png"
        else
          echo "$line"
        fi
      done | tee "$log"
    status=${PIPESTATUS[0]}
    set -e
    rm -f "$shots"/*.ack
    if [[ $status -eq 0 || -s $log ]]; then
      break
    fi
    echo "Wine did not start the test driver for $name (exit $status, no output)"
    if [[ $attempt -eq 1 ]]; then
      echo "starting $name once more"
    fi
  done
  if [[ $status -eq 0 ]]; then
    report ok "test driver, $name"
  elif [[ ! -s $log ]]; then
    report FAIL "test driver, $name: Wine did not start it, twice (exit $status)"
  else
    report FAIL "test driver, $name (exit $status; see $log)"
  fi
}

run_driver driver "$@"
if [[ $# -eq 0 ]]; then
  LC_ALL=de_DE.UTF-8 run_driver driver-german --only user_interface_texts --ui-language 0x0407
  LC_ALL=fr_FR.UTF-8 run_driver driver-french --only user_interface_texts --ui-language 0x040c
fi

echo "== where the programs take their DLLs from"
timeout 120 wineserver -w || true
if "$here/program_dll_search.sh" "$build"; then
  report ok "DLL search check"
else
  report FAIL "DLL search check"
fi

echo "== the HID platform under Wine"
if [[ -x $here/platform_probe.sh ]]; then
  if "$here/platform_probe.sh" "$build"; then report ok "platform probe"; else report FAIL "platform probe"; fi
fi
if [[ -x $here/platform_dll_planting.sh ]]; then
  if "$here/platform_dll_planting.sh" "$build"; then
    report ok "DLL-planting check"
  else
    report FAIL "DLL-planting check"
  fi
fi

echo "screenshots: $shots"
if [[ $failures -eq 0 ]]; then
  echo "Wine tests: all passed"
else
  echo "Wine tests: $failures failed"
  exit 1
fi
