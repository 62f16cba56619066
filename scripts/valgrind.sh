#!/usr/bin/env bash
# Runs the native test suite once under valgrind's memcheck, in a build without sanitizers
# (the `valgrind` preset): each test executable once with all its tests, as many at a time
# as there are cores. Fails on any memcheck error, on a definite or indirect leak, and on
# a failing test. Logs land in build/valgrind/memcheck/.
#   scripts/valgrind.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# Quiet unless the build fails.
if ! build_log=$({ cmake --preset valgrind && cmake --build --preset valgrind -j "$(nproc)"; } 2>&1); then
  echo "$build_log" >&2
  exit 2
fi

logs=build/valgrind/memcheck
rm -rf "$logs"
mkdir -p "$logs"

# Every test executable ctest knows, with its working folder; scripts (the generators'
# tests) are not C++ and are left to ctest.
(cd build/valgrind && ctest --show-only=json-v1) | python3 -c '
import json, sys
seen = set()
for test in json.load(sys.stdin)["tests"]:
    command = test.get("command")
    if not command or command[0] in seen:
        continue
    with open(command[0], "rb") as program:
        if program.read(4) != b"\x7fELF":
            continue
    seen.add(command[0])
    folder = [p["value"] for p in test.get("properties", []) if p["name"] == "WORKING_DIRECTORY"]
    print(command[0], folder[0] if folder else ".")
' >"$logs/executables.txt"

memcheck() {
  local program=$1 folder=$2 log
  log="$LOGS/$(basename "$program").log"
  local start=$SECONDS status=0
  (cd "$folder" && valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
    --num-callers=30 --suppressions="$SUPPRESSIONS" "$program") >"$log" 2>&1 || status=$?
  printf '%-28s %4d s  %s\n' "$(basename "$program")" $((SECONDS - start)) \
    "$([[ $status == 0 ]] && echo clean || echo "FAILED (exit $status, $log)")"
  return "$status"
}
export -f memcheck
export LOGS=$logs
export SUPPRESSIONS=$PWD/scripts/valgrind.supp

start=$SECONDS
status=0
xargs -P "$(nproc)" -L 1 bash -c 'memcheck "$0" "$1"' <"$logs/executables.txt" || status=$?
count=$(wc -l <"$logs/executables.txt")
if ((status != 0)); then
  echo "memcheck: errors, leaks or failing tests (see the FAILED lines above)" >&2
  exit 1
fi
echo "memcheck: ${count} test executables clean ($((SECONDS - start)) s)"
