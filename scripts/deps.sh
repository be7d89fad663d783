#!/usr/bin/env bash
# Installs what this machine lacks to build and test the suite (as root), or prints the one
# apt-get line that would.
set -euo pipefail

packages=(cmake g++ make libgtest-dev libicu-dev pkg-config)
if [[ "${JX_WITH_EXTRAS:-1}" == 1 ]]; then
  # clang and its runtime for the fuzz targets, groff for the manual pages, openssl and
  # GNU time for the benchmark.
  packages+=(clang libclang-rt-dev groff-base openssl time)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages; run as root: $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
$line -qq
