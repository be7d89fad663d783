#!/usr/bin/env bash
# Builds the fuzz targets with clang++ and runs each one for SECONDS (default 20) from its
# seed corpus in tests/fuzz/corpus/<name>. New inputs go to a scratch directory, so the
# committed corpus never grows on its own; a crashing input is kept under
# build/fuzz/crashes/<target>/ and makes the script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
jobs=${JX_JOBS:-2}
build="$root/build/fuzz"

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DJX_FUZZ=ON -DJX_TESTS=OFF >/dev/null
if ! cmake --build "$build" -j"$jobs" >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
for source in "$root"/tests/fuzz/fuzz_*.cpp; do
  target=$(basename "$source" .cpp)
  corpus="$root/tests/fuzz/corpus/${target#fuzz_}"
  crashes="$build/crashes/$target"
  mkdir -p "$scratch/$target" "$crashes"
  log="$build/$target.log"
  if "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$crashes/" "$scratch/$target" "$corpus" \
      >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: ok, ${runs:-?} runs in ${seconds} s"
  else
    echo "$target: FAILED, input kept in $crashes (log: $log)"
    grep -m1 -E "ERROR|runtime error|deadly signal" "$log" || true
    failed=1
  fi
done
exit "$failed"
