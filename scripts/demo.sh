#!/usr/bin/env bash
# Builds the suite and shows its main job in a scratch directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
JX_WITH_EXTRAS=0 "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF >/dev/null
cmake --build "$root/build/release" -j"${JX_JOBS:-2}" >/dev/null
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
