#!/usr/bin/env bash
# Runs every test: a Release build with warnings as errors (g++), then a Debug build under
# AddressSanitizer and UndefinedBehaviorSanitizer (clang++ when present), then the fuzz
# targets for a short time each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JX_JOBS:-2}
"$root/scripts/deps.sh"

run_suite() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

echo "== warnings as errors (g++, Release)"
run_suite "$root/build/werror" -DCMAKE_BUILD_TYPE=Release -DJX_WERROR=ON -DCMAKE_CXX_COMPILER=g++

sanitize_compiler=g++
command -v clang++ >/dev/null && sanitize_compiler=clang++
echo "== AddressSanitizer + UndefinedBehaviorSanitizer ($sanitize_compiler, Debug)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DJX_SANITIZE=ON -DJX_WERROR=ON \
  -DCMAKE_CXX_COMPILER="$sanitize_compiler"

if [[ -x "$root/scripts/fuzz.sh" ]] && command -v clang++ >/dev/null; then
  echo "== fuzz targets"
  "$root/scripts/fuzz.sh" "${JX_FUZZ_SECONDS:-20}"
fi
