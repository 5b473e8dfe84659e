#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: Clang, AddressSanitizer,
# UBSan) and runs each for a set time, as many at once as there are CPUs.
#
#   fuzz.sh [seconds-per-target]    default 600: the full run
#
# Each target starts from its seeds in fuzz/corpus/<target>/ and keeps what
# it finds in build-fuzz/runs/<target>/corpus, so a later run goes on from
# there; the seeds in the repository stay as they are. A crash or sanitizer
# report is kept in build-fuzz/runs/<target>/crashes/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
jobs=$(nproc)
targets=(hive hosts_file split_arguments shell_link codepage choose_button entry_path)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs" >/dev/null

runs=build-fuzz/runs
run() { # target
  local dir=$runs/$1
  mkdir -p "$dir/corpus" "$dir/crashes"
  # A status other than 0 is a crash, whose file the summary counts.
  build-fuzz/fuzz/"$1"_fuzz -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/crashes/" "$dir/corpus" "fuzz/corpus/$1" >"$dir/log" 2>&1 || true
}

echo "Fuzzing ${#targets[@]} targets for ${seconds} s each, $jobs at a time"
for t in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n; done
  run "$t" &
done
wait

failed=0
printf '%-16s %12s %8s\n' target executions crashes
for t in "${targets[@]}"; do
  dir=$runs/$t
  executions=$(sed -n 's/^stat::number_of_executed_units: //p' "$dir/log" | tail -n1)
  crashes=$(find "$dir/crashes" -type f | wc -l)
  printf '%-16s %12s %8s\n' "$t" "${executions:-?}" "$crashes"
  if ((crashes)); then
    failed=1
    grep -m3 -E 'ERROR|runtime error|property broken' "$dir/log" | sed 's/^/    /' || true
  fi
done
exit "$failed"
