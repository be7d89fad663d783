#!/usr/bin/env bash
# Builds the suite and shows its main job in a scratch directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JX_JOBS:-2}
echo "Checking the packages this needs..."
JX_WITH_EXTRAS=0 "$root/scripts/deps.sh"
echo "Configuring the build in build/release..."
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
echo "Building jx and its four programs with $jobs jobs (under a minute on 2 cores)..."
if ! cmake --build "$root/build/release" -j"$jobs" >"$root/build/release/build.log" 2>&1; then
  cat "$root/build/release/build.log"
  exit 1
fi
echo "Built. Now a key, a file encrypted, reported and decrypted, in a scratch directory:"
bin="$root/build/release"
demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
cd "$demo"

show() {
  echo
  echo "\$ $*"
  "$@"
}

show "$bin/jxkey" -r demo
show ls -l demo.jxk
show "$bin/jxview" demo.jxk
printf 'Attack at dawn.\nBring the maps.\n' >letter.txt
show "$bin/jxenc" -V -k demo.jxk letter.txt
show ls -l letter.txt.jxd
show "$bin/jxview" letter.txt.jxd
mv letter.txt original.txt
show "$bin/jxdec" -V -k demo.jxk letter.txt.jxd
show cmp letter.txt original.txt
echo "letter.txt came back byte for byte."
