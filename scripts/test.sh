#!/usr/bin/env bash
# Runs every test: a Release build with warnings as errors (g++), then the installed library
# (static, then shared) used by examples/ through CMake and pkg-config, then a Debug build under
# AddressSanitizer and UndefinedBehaviorSanitizer (clang++ when present), then the tests that
# use threads under ThreadSanitizer (clang++), then the fuzz targets for a short time each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JX_JOBS:-2}
"$root/scripts/deps.sh"

run_suite() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 900
}

echo "== warnings as errors (g++, Release)"
run_suite "$root/build/werror" -DCMAKE_BUILD_TYPE=Release -DJX_WERROR=ON -DCMAKE_CXX_COMPILER=g++

# Installs the build in `dir` into a scratch prefix, builds examples/ against it with its own
# CMake project and with the flags pkg-config gives, and runs both in empty directories.
check_installed_library() {
  local dir=$1 scratch libdir flags
  scratch=$(mktemp -d)
  cmake --install "$dir" --prefix "$scratch/prefix" >/dev/null
  cmake -S "$root/examples" -B "$scratch/build" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
  cmake --build "$scratch/build" >/dev/null
  mkdir "$scratch/cmake-run"
  (cd "$scratch/cmake-run" && "$scratch/build/roundtrip")

  libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$dir/CMakeCache.txt")
  flags=$(PKG_CONFIG_PATH="$scratch/prefix/$libdir/pkgconfig" pkg-config --cflags --libs jx)
  # shellcheck disable=SC2086  # the flags are words
  c++ -std=c++20 "$root/examples/roundtrip.cpp" $flags -o "$scratch/roundtrip-pc"
  mkdir "$scratch/pc-run"
  (cd "$scratch/pc-run" && LD_LIBRARY_PATH="$scratch/prefix/$libdir" "$scratch/roundtrip-pc")
  rm -rf "$scratch"
}

echo "== installed library, static (examples/ through CMake and pkg-config)"
check_installed_library "$root/build/werror"
echo "== installed library, shared"
cmake -S "$root" -B "$root/build/shared" -DCMAKE_BUILD_TYPE=Release -DJX_WERROR=ON \
  -DBUILD_SHARED_LIBS=ON -DJX_TESTS=OFF >/dev/null
cmake --build "$root/build/shared" -j"$jobs" >/dev/null
check_installed_library "$root/build/shared"

sanitize_compiler=g++
command -v clang++ >/dev/null && sanitize_compiler=clang++
echo "== AddressSanitizer + UndefinedBehaviorSanitizer ($sanitize_compiler, Debug)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DJX_SANITIZE=ON -DJX_WERROR=ON \
  -DCMAKE_CXX_COMPILER="$sanitize_compiler"

if command -v clang++ >/dev/null; then
  echo "== ThreadSanitizer (clang++): the tests that run streams on threads"
  cmake -S "$root" -B "$root/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJX_TSAN=ON \
    -DJX_WERROR=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$root/build/tsan" -j"$jobs" --target jx_unit_tests jx_cli_tests
  TSAN_OPTIONS=halt_on_error=1:abort_on_error=1 ctest --test-dir "$root/build/tsan" \
    --output-on-failure -j"$jobs" --timeout 900 -R 'Parallel|Threads|Fault|Progress'
fi

if [[ -x "$root/scripts/fuzz.sh" ]] && command -v clang++ >/dev/null; then
  echo "== fuzz targets"
  "$root/scripts/fuzz.sh" "${JX_FUZZ_SECONDS:-20}"
fi
