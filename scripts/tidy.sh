#!/usr/bin/env bash
# Runs clang-tidy with the checks in .clang-tidy over the project's own sources, each with
# the compile commands of a build that compiles it: the native build's for the portable
# core, the Windows cross build's (MinGW-w64 headers) for the Windows-only files.
#   scripts/tidy.sh
# Exits nonzero on any warning.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The folders checked, relative to the repository: the sources directly in each and the
# headers they include from it. One line per folder; a subfolder needs a line of its own.
FOLDERS=(
  device
  device/linux
  device/webhid
  device/win32
  emulator
  resources/catalogue
  ui
  ui/cli
  ui/sim
  ui/win32
  updater
)

# Quiet unless configuring fails.
if ! configure_log=$({ cmake --preset native && cmake --preset windows; } 2>&1); then
  echo "$configure_log" >&2
  exit 2
fi

# Sources of the listed folders in a build's compile commands; `exclude` names a file of
# sources already taken from another build.
sources_of() {
  python3 - "$1" "$2" "$root" "${FOLDERS[@]}" <<'EOF'
import json, os, sys
commands, exclude, root, folders = sys.argv[1], sys.argv[2], sys.argv[3], set(sys.argv[4:])
taken = set(open(exclude).read().split()) if os.path.exists(exclude) else set()
seen = set()
for entry in json.load(open(commands)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    relative = os.path.relpath(path, root)
    if (path.endswith(".cpp") and os.path.dirname(relative) in folders
            and relative not in taken and relative not in seen):
        seen.add(relative)
        print(relative)
EOF
}

work=build/tidy
mkdir -p "$work"
sources_of build/native/compile_commands.json /dev/null >"$work/native.txt"
sources_of build/windows/compile_commands.json "$work/native.txt" >"$work/windows.txt"

header_filter="^$root/($(IFS='|'; echo "${FOLDERS[*]}"))/[^/]*$"

# clang finds the MinGW-w64 C headers by itself but not the cross compiler's C++ library
# (its folder, 12-posix, is not a version clang can read), so that is given explicitly.
mingw_compiler=$(python3 -c "import json,shlex; e=json.load(open('build/windows/compile_commands.json'))[0]; print(shlex.split(e['command'])[0] if 'command' in e else e['arguments'][0])")
windows_args=(--extra-arg=--target=x86_64-w64-mingw32)
while read -r folder; do
  windows_args+=("--extra-arg=-isystem$folder")
done < <("$mingw_compiler" -E -x c++ -v - </dev/null 2>&1 | sed -n 's|^ \(/.*/include/c++.*\)$|\1|p')

status=0
run_tidy() {
  local build=$1 list=$2
  shift 2
  [[ -s "$list" ]] || return 0
  xargs -P "$(nproc)" -n 1 clang-tidy-14 -p "$build" --quiet --header-filter="$header_filter" "$@" \
    <"$list" >>"$work/tidy.log" 2>&1 || status=1
}
: >"$work/tidy.log"
start=$SECONDS
run_tidy build/native "$work/native.txt"
run_tidy build/windows "$work/windows.txt" "${windows_args[@]}"

native_count=$(wc -l <"$work/native.txt")
windows_count=$(wc -l <"$work/windows.txt")
if ((status != 0)) || grep -qE '(warning|error):' "$work/tidy.log"; then
  grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$work/tidy.log" >&2
  echo "clang-tidy: findings in ${native_count} native and ${windows_count} Windows sources" >&2
  exit 1
fi
echo "clang-tidy: ${native_count} native and ${windows_count} Windows sources clean" \
  "($((SECONDS - start)) s)"
