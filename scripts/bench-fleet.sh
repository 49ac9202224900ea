#!/usr/bin/env bash
# Fleet timings on a local 3-member etcd cluster: push and pull of an
# instance of 1,000, 10,000 and 100,000 values, beside etcdctl putting the
# same bytes in the same 512 KiB pieces (the floor: what etcd itself costs);
# then the time from a push to a watcher having applied it, median of 20.
# The real vesk, each host a store file of its own (KESTLIB_REGISTRY).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/fleet-hosts.sh

now() { date +%s%N; }
ms() { echo $((($2 - $1) / 1000000)); }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
runs=3

printf '%-8s %10s %12s %12s %16s\n' values bytes "push ms" "pull ms" "etcdctl put ms"
for count in 1000 10000 100000; do
  instance=bench$count
  sample source "$instance" "$count"
  push=() pull=() floor=()
  for run in $(seq "$runs"); do
    # A fresh value prefix each run, so every push carries new chunks.
    sample source "$instance" "$count" "r$run-"
    start=$(now)
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance "$instance" >/dev/null
    push+=("$(ms "$start" "$(now)")")
    start=$(now)
    KESTLIB_REGISTRY=$work/target.db "$tool" fleet pull --instance "$instance" >/dev/null
    pull+=("$(ms "$start" "$(now)")")
    # The same bytes, in the same pieces, with etcd's own client.
    KESTLIB_REGISTRY=$work/source.db "$tool" --instance "$instance" export --encoding utf16 >"$work/document"
    rm -f "$work"/piece.*
    split -b 524288 "$work/document" "$work/piece."
    start=$(now)
    for piece in "$work"/piece.*; do
      ETCDCTL_API=3 etcdctl --endpoints "$VESK_FLEET_ENDPOINTS" put "floor/$run/${piece##*.}" <"$piece" >/dev/null
    done
    floor+=("$(ms "$start" "$(now)")")
  done
  bytes=$(stat -c %s "$work/document")
  printf '%-8s %10s %12s %12s %16s\n' "$count" "$bytes" \
    "$(printf '%s\n' "${push[@]}" | median)" "$(printf '%s\n' "${pull[@]}" | median)" \
    "$(printf '%s\n' "${floor[@]}" | median)"
done
echo "(medians of $runs runs; etcdctl starts one process per piece, as an operator's script would)"

echo
echo "== push to applied by a watcher, 1,000 values, 20 pushes"
KESTLIB_REGISTRY=$work/watched.db "$tool" fleet watch --instance latency >"$work/watch.log" 2>&1 &
watcher=$!
latencies=()
for run in $(seq 20); do
  sample source latency 1000 "l$run-"
  start=$(now)
  revision=$(KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance latency)
  for _ in $(seq 2000); do
    grep -q "applied revision $revision " "$work/watch.log" && break
    sleep 0.005
  done
  latencies+=("$(ms "$start" "$(now)")")
done
echo "median push-to-applied: $(printf '%s\n' "${latencies[@]}" | median) ms (min $(printf '%s\n' "${latencies[@]}" | sort -n | head -1), max $(printf '%s\n' "${latencies[@]}" | sort -n | tail -1))"
floors=()
for run in $(seq 20); do
  start=$(now)
  ETCDCTL_API=3 etcdctl --endpoints "$VESK_FLEET_ENDPOINTS" put floor/latency "$run" >/dev/null
  floors+=("$(ms "$start" "$(now)")")
done
echo "floor, one etcdctl put of a small key: median $(printf '%s\n' "${floors[@]}" | median) ms"

# Chunks kept on each host: bytes served per push and 100-watcher convergence.
source scripts/bench-fleet-chunks.sh
