#!/usr/bin/env bash
# Every test: installs what a fresh Debian machine lacks, then configures,
# builds and tests each preset (natively, with sanitizers, and the Windows
# DLL under Wine). Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ googletest libgtest-dev libsqlite3-dev libbenchmark-dev mingw-w64 wine64 sqlite3 libcli11-dev nlohmann-json3-dev libcurl4-openssl-dev etcd-server etcd-client openssl)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan linux-tsan windows)
for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset"
done
