#!/usr/bin/env bash
# The cache's benchmark tables: Google Benchmark on the native store, then
# the timing program under Wine. Each prints medians and the ratios the
# targets are stated in; run it on a quiet machine and read the ratios.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== native (linux preset)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target vesk_bench
# Repetitions interleaved at random, so the machine's drift touches every
# benchmark alike and the ratios of medians stay fair.
build/linux/bin/vesk_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_color=false "$@"

echo
echo "== Wine (windows preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target vesk_wine_timing
prefix=$PWD/build/windows/wineprefix
sh cmake/wine-prefix.sh start "$prefix"
trap 'sh cmake/wine-prefix.sh stop "$prefix"' EXIT
WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 build/windows/bin/vesk_wine_timing.exe
