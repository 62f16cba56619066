#!/usr/bin/env bash
# Runs the Windows program's tests under Wine on a virtual display.
#
#   tests/wine/run.sh <windows-build-dir> [--product <EscUpdater.exe> --images <folder>]
#                     [driver options, e.g. --only update]
#
# With driver options, only that one driver pass runs (no passes in other languages).
# Makes a fresh Wine prefix in a temporary folder and starts its own Xvfb, then:
#   1. checks that the product EscUpdater.exe carries no emulator code and that both
#      programs import only DLLs that Windows takes from System32;
#   2. runs the test driver against EscUpdaterSim.exe, then its language test again under
#      a German and a French locale; screenshots land in <windows-build-dir>/screenshots/,
#      the driver's output in <windows-build-dir>/wine/driver*.log;
#   3. runs escupdate.exe (the command line) through an update and info --json on the
#      emulated unit;
#   4. checks that both programs take the DLLs loaded once they run from System32 only;
#   5. runs the HID platform probe and the DLL-planting check in the same prefix;
#   6. with --product and --images, runs the driver's product pass: that EscUpdater.exe,
#      built with the firmware images in that folder, on a unit the driver emulates behind
#      test stand-ins of hid.dll and setupapi.dll (see run_product_pass); without them
#      the pass is reported as skipped.
# Exits nonzero when anything failed. Everything it starts is ended on exit.
set -euo pipefail

[[ $# -ge 1 ]] || { echo "usage: $0 <windows-build-dir> [driver options]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift

# --product and --images are this script's; everything else goes to the driver.
product_exe=
product_images=
driver_options=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --product | --images)
      [[ $# -ge 2 && -e $2 ]] || { echo "$1 needs an existing file or folder" >&2; exit 2; }
      if [[ $1 == --product ]]; then product_exe=$(realpath "$2"); else product_images=$(realpath "$2"); fi
      shift 2
      ;;
    *)
      driver_options+=("$1")
      shift
      ;;
  esac
done
if [[ -n $product_exe$product_images && ( -z $product_exe || -z $product_images ) ]]; then
  echo "--product and --images go together" >&2
  exit 2
fi
set -- "${driver_options[@]}"

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

# shellcheck source=tests/report.sh
source "$here/../report.sh"

echo "== the product and the simulator as built"
# The link line names no emulator library, and the link map (the program itself is
# stripped) no symbol of the emulator's.
link_line=$(awk '/^build ui\/win32\/EscUpdater.exe:/,/^$/' "$build/build.ninja" 2>/dev/null)
link_map=$build/ui/win32/EscUpdater.map
if [[ -z $link_line ]]; then
  report FAIL "no link line for EscUpdater.exe in $build/build.ninja"
elif grep -q 'esc_emulator' <<<"$link_line"; then
  report FAIL "EscUpdater.exe is linked with the emulator"
elif ! grep -q 'RunUpdaterProgram' "$link_map" 2>/dev/null; then
  report FAIL "no link map of EscUpdater.exe with its symbols: $link_map"
elif x86_64-w64-mingw32-c++filt <"$link_map" | grep -q 'esc::sim::'; then
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
# in, so a caller sets driver_locale (LC_ALL for Wine alone) for a pass in another
# language.
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
    timeout 900 env ${driver_locale:+LC_ALL=$driver_locale} \
      wine "$driver" --sim "$win_sim" --screenshots "$win_shots" "$@" |
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
  # Set for bash itself, an LC_ALL the machine has not generated draws a warning.
  driver_locale=de_DE.UTF-8 run_driver driver-german --only user_interface_texts \
    --ui-language 0x0407
  driver_locale=fr_FR.UTF-8 run_driver driver-french --only user_interface_texts \
    --ui-language 0x040c
fi

echo "== escupdate.exe, the command line"
# A full update on the emulated unit (virtual clock) and info --json, their output checked.
escupdate=$build/ui/cli/escupdate.exe
if [[ ! -f $escupdate ]]; then
  report FAIL "missing $escupdate"
else
  if "$here/platform_import_check.sh" "$escupdate" >/dev/null; then
    report ok "escupdate.exe imports only DLLs from System32"
  else
    report FAIL "escupdate.exe import table check"
  fi
  set +e
  timeout 120 wine "$escupdate" update --yes --simulate=clock=virtual >"$work/cli-out" 2>"$work/cli-err"
  status=$?
  set -e
  if [[ $status -eq 0 ]] && grep -q '^The update of the ESC was successful!' "$work/cli-out" &&
    grep -q '^100 %' "$work/cli-out" &&
    grep -q '1881 blocks and 90256 bytes written; its flash equals image 157' "$work/cli-err"; then
    report ok "escupdate.exe update --yes --simulate writes the image"
  else
    report FAIL "escupdate.exe update (exit $status): $(tail -3 "$work/cli-out" "$work/cli-err")"
  fi
  set +e
  LC_ALL=de_DE.UTF-8 timeout 60 wine "$escupdate" info --json --simulate >"$work/cli-json"
  status=$?
  set -e
  if [[ $status -eq 0 ]] && python3 - "$work/cli-json" <<'PY'
import json, sys
info = json.load(open(sys.argv[1], encoding="utf-8"))
assert info["outcome"] == "supported", info["outcome"]
assert info["image"] == {"id": 157, "present": True, "size": 90256}, info["image"]
assert [row["version"] for row in info["rows"]] == ["1.2.3", "1.2", "1.0"], info["rows"]
assert info["rows"][1]["label"] == "Regler-Bootloader", info["rows"][1]
assert "übertragen" in info["status"], info["status"]
PY
  then
    report ok "escupdate.exe info --json --simulate, German texts in UTF-8"
  else
    report FAIL "escupdate.exe info --json (exit $status): $(head -c 300 "$work/cli-json")"
  fi
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

# run_product_pass [driver options]: the product on the driver's emulated unit. The
# stand-ins go into this prefix's System32 and Wine prefers them to its own DLLs for
# EscUpdater.exe only, so that the product loads them from System32 as it loads the
# system's, while every other program keeps Wine's.
run_product_pass() {
  echo "== the product on an emulated unit"
  if [[ -z $product_exe ]]; then
    echo "skipped: the product pass (give --product <EscUpdater.exe> --images <folder>)"
    return
  fi
  if "$here/platform_import_check.sh" "$product_exe"; then
    report ok "the product under test imports only DLLs from System32"
  else
    report FAIL "import table check of $product_exe"
  fi
  local system32=$WINEPREFIX/drive_c/windows/system32
  local key='HKCU\Software\Wine\AppDefaults\EscUpdater.exe\DllOverrides'
  cp "$build/wine/standin/hid.dll" "$build/wine/standin/setupapi.dll" "$system32/"
  wine reg add "$key" /v hid /d native /f >/dev/null 2>&1
  wine reg add "$key" /v setupapi /d native /f >/dev/null 2>&1
  run_driver driver-product --product "$(winepath -w "$product_exe")" \
    --images "$(winepath -w "$product_images")" "$@"
}
run_product_pass "$@"

echo "screenshots: $shots"
if [[ $failures -eq 0 ]]; then
  echo "Wine tests: all passed"
else
  echo "Wine tests: $failures failed"
  exit 1
fi
