#!/usr/bin/env bash
# Every test: installs what a fresh Debian machine lacks, then configures,
# builds and tests each preset (natively, with sanitizers, and the Windows
# DLL under Wine), then builds the packages and checks them installed
# (`package`). Exits non-zero on the first failure.
# `scripts/test.sh linux windows` runs those steps alone.
set -euo pipefail
cd "$(dirname "$0")/.."

steps=("$@")
((${#steps[@]})) || steps=(linux linux-asan linux-tsan windows package)

source scripts/packages.sh
purposes=(linux)
for step in "${steps[@]}"; do
  case $step in
    linux*) purposes+=(fleet) ;;
    windows) purposes+=(windows fleet) ;;
    package) purposes+=(windows package) ;;
    *) echo "test.sh: no step '$step' (linux, linux-asan, linux-tsan, windows, package)" >&2; exit 2 ;;
  esac
done
vesk_install "${purposes[@]}"

for step in "${steps[@]}"; do
  echo "== $step"
  if [[ $step == package ]]; then
    scripts/package.sh
    tests/package/check-packages.sh
    continue
  fi
  cmake --preset "$step" >/dev/null
  cmake --build --preset "$step" -j "$(nproc)"
  ctest --preset "$step"
done
