#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, ASan + UBSan) if needed and runs
# each of them, starting from its seed corpus in fuzz/corpus/<target>/.
#   scripts/fuzz.sh SECONDS [TARGET...]
# SECONDS is the time for all targets together, split among them by the shares given in
# fuzz/CMakeLists.txt (1 unless a target says otherwise). Prints, per target, the
# executions and libFuzzer's coverage figures (cov: edges, ft: features).
# Exits nonzero on any crash, broken invariant, leak, timeout or sanitizer report; the
# input that caused it is kept in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -lt 1 || ! "$1" =~ ^[0-9]+$ || "$1" -lt 1 ]]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
total_seconds=$1
shift

# Quiet unless the build fails.
if ! build_log=$({ cmake --preset fuzz && cmake --build --preset fuzz -j 2; } 2>&1); then
  echo "$build_log" >&2
  exit 2
fi

build=build/fuzz
declare -A shares=()
listed=()
while read -r name share; do
  shares[$name]=$share
  listed+=("$name")
done <"$build/fuzz_targets.txt"
if [[ $# -gt 0 ]]; then
  targets=("$@")
else
  targets=("${listed[@]}")
fi
total_shares=0
for target in "${targets[@]}"; do
  if [[ -z "${shares[$target]:-}" ]]; then
    echo "no fuzz target $target" >&2
    exit 2
  fi
  total_shares=$((total_shares + shares[$target]))
done

mkdir -p "$build/artifacts" "$build/logs"
failed=()
printf '%-18s %8s %12s %10s %7s %7s %7s\n' target seconds executions exec/s cov ft corpus
for target in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$target"
  seconds=$((total_seconds * shares[$target] / total_shares))
  ((seconds >= 1)) || seconds=1
  # New inputs go to the build folder; the seeds in the repository are only read.
  work="$build/corpus/$target"
  mkdir -p "$work" "fuzz/corpus/$target"
  log="$build/logs/$target.log"
  status=0
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" >"$log" 2>&1 ||
    status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -Eo 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -Eo 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  corpus=$(grep -Eo 'corp: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-18s %8s %12s %10s %7s %7s %7s\n' "$target" "$seconds" "${executions:-?}" \
    "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corpus:-?}"
  if ((status != 0)) || grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error:' "$log"; then
    failed+=("$target")
    echo "--- $target failed (exit $status); the end of $log:" >&2
    tail -40 "$log" >&2
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found problems in: ${failed[*]} (inputs in $build/artifacts/)" >&2
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, no crash, leak, timeout or sanitizer report"
