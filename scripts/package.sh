#!/usr/bin/env bash
# Builds the packages into build/packages: the Debian package and its
# -dbgsym from the linux preset, the Windows zip from the windows preset and
# a zip of the Windows binaries' debug files beside it. Binaries are shipped
# stripped; tests/package/check-packages.sh checks them installed.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
vesk_install linux windows package

out=$PWD/build/packages
rm -rf "$out"
mkdir -p "$out"
for preset in linux windows; do
  echo "== $preset"
  targets=(vesk vesk_tool)
  [[ $preset == linux ]] && targets+=(vesk_manual)
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target "${targets[@]}"
  rm -rf "build/$preset/packages" "build/$preset/debug"
  (cd "build/$preset" && cpack)
  find "build/$preset/packages" -maxdepth 1 -type f -exec cp -t "$out" {} +
done

zip=$(echo "$out"/vesk-*-win64.zip)
(cd build/windows/debug && cmake -E tar cf "${zip%.zip}-debug.zip" --format=zip -- *)
echo
echo "packages in $out:"
ls -l "$out"
