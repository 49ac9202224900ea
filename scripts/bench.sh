#!/usr/bin/env bash
# The cache's benchmark tables: Google Benchmark on the native store, then
# the timing program under Wine; then the tool's scale table (bench/scale.sh),
# each vesk figure beside its peer. Each prints medians and the ratios the
# targets are stated in; run it on a quiet machine and read the ratios.
# `scripts/bench.sh scale [native|wine]` prints the scale table alone; last
# come the fleet timings (scripts/bench-fleet.sh, alone with `bench.sh fleet`).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
vesk_install linux windows fleet bench

if [ "${1:-}" = fleet ]; then
  shift
  exec scripts/bench-fleet.sh "$@"
fi
if [ "${1:-}" = scale ]; then
  shift
  exec bench/scale.sh "$@"
fi

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
WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 build/windows/bin/vesk_wine_timing.exe || status=$?
sh cmake/wine-prefix.sh stop "$prefix"
[ "${status:-0}" = 0 ] || exit "$status"

echo
echo "== the vesk tool at scale"
bench/scale.sh

echo
echo "== vesk fleet on a local etcd cluster"
scripts/bench-fleet.sh
