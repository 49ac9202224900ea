#!/usr/bin/env bash
# Fleet timings on a local 3-member etcd cluster: push and pull of an
# instance of 1,000, 10,000 and 100,000 values, beside etcdctl putting the
# same bytes in the same 512 KiB pieces (the floor: what etcd itself costs);
# then a pull that changes 1 value of 100,000 beside one that changes them
# all, with peak memory; then the time from a push to a watcher having
# applied it, median of 20; then what a quiet watcher costs etcd, its host
# report's lease renewals included (alone:
# `bench-fleet.sh quiet`; the 1-value pull alone: `bench-fleet.sh diff`);
# then promote to applied by a 20-watcher ring (`bench-fleet.sh promote`).
# The real vesk, each host a store file of its own (KESTLIB_REGISTRY).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/fleet-hosts.sh

now() { date +%s%N; }
ms() { echo $((($2 - $1) / 1000000)); }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
runs=3

# Counted by etcd itself: every JSON request (a read, a watch stream) is one
# gRPC call inside the member, so the sum of grpc_server_started_total over
# the members' /metrics, taken before and after, counts them; the same
# window with no watcher is the baseline taken off.
# `requests LeaseKeepAlive` counts only the calls of that gRPC method.
requests() {
  local endpoint total=0
  for endpoint in ${VESK_FLEET_ENDPOINTS//,/ }; do
    total=$((total + $(curl -s "$endpoint/metrics" | awk -v m="${1:+grpc_method=\"$1\"}" \
      '/^grpc_server_started_total/ && (m == "" || index($0, m)) { s += $2 } END { printf "%d", s }')))
  done
  echo "$total"
}
quiet=60
# Runs "$@" (a watcher, or nothing) and prints the requests etcd served in
# $quiet seconds once it has settled, then how many of them renewed a lease
# (the watcher's host report).
quiet_requests() {
  local pid="" start renewals
  if [ $# -gt 0 ]; then
    "$@" >"$work/quiet.log" 2>&1 &
    pid=$!
    watcher=$pid
    sleep 5
  fi
  start=$(requests)
  renewals=$(requests LeaseKeepAlive)
  sleep "$quiet"
  echo $(($(requests) - start)) $(($(requests LeaseKeepAlive) - renewals))
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    watcher=""
  fi
}
# A quiet watcher's requests on each build, less the baseline.
watcher_cost() {
  echo "== a quiet watcher's cost: requests to etcd in $quiet s with no push"
  sample source quiet 100
  KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance quiet >/dev/null
  read -r baseline _ < <(quiet_requests)
  read -r native renewed < <(quiet_requests env KESTLIB_REGISTRY="$work/quiet.db" "$tool" fleet watch --instance quiet)
  echo "no watcher (baseline): $baseline requests"
  echo "native watcher (libcurl): $((native - baseline)) requests, $renewed of them lease renewals"
  if cmake --preset windows >/dev/null 2>&1 && cmake --build --preset windows --parallel "$(nproc)" --target vesk_tool >/dev/null; then
    prefix=$PWD/build/windows/wineprefix
    sh cmake/wine-prefix.sh start "$prefix"
    read -r wine renewed < <(quiet_requests env WINEPREFIX="$prefix" WINEDEBUG=-all /usr/lib/wine/wine64 \
      build/windows/bin/vesk.exe fleet watch --instance quiet --endpoints "$VESK_FLEET_ENDPOINTS")
    sh cmake/wine-prefix.sh stop "$prefix"
    echo "vesk.exe watcher under Wine (WinHTTP): $((wine - baseline)) requests, $renewed of them lease renewals"
  else
    echo "vesk.exe watcher under Wine: not measured (the windows preset does not build here)"
  fi
  echo "(a watch session lasts 30 s: one read and one watch stream each; the host report's 30 s lease is renewed"
  echo " every 10 s, and the report is written once while nothing changes: about 4 + 6 = 10 is the expected figure)"
}
# A pull that changes 1 value of 100,000 beside one that changes them all
# (alone: `bench-fleet.sh diff`).
diff_pull() {
  echo "== pull of 100,000 values: 1 value changed beside every value changed (same run, same data)"
  # The target first holds revision f<run>; then a revision where every value
  # differs is pulled (the full rewrite), then one where a single value does.
  # CPU seconds (user + system) beside the wall time: on a busy machine the
  # wall time mostly measures waiting for a core.
  printf '%-4s %9s %11s %6s %9s %11s %10s %12s %s\n' run "full ms" "1-value ms" ratio "full cpu" "1-value cpu" "full KiB" "1-value KiB" "1-value pull wrote"
  full=() one=()
  for run in $(seq "$runs"); do
    sample source diffbench 100000 "f$run-"
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance diffbench >/dev/null
    KESTLIB_REGISTRY=$work/target.db "$tool" fleet pull --instance diffbench --force >/dev/null
    sample source diffbench 100000 "g$run-"
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance diffbench >/dev/null
    start=$(now)
    KESTLIB_REGISTRY=$work/target.db /usr/bin/time -f "%M %U %S" -o "$work/full.kib" "$tool" fleet pull --instance diffbench >/dev/null
    full+=("$(ms "$start" "$(now)")")
    KESTLIB_REGISTRY=$work/source.db "$tool" --instance diffbench set Fleet Setting50000 "one$run" --type string
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance diffbench >/dev/null
    start=$(now)
    KESTLIB_REGISTRY=$work/target.db /usr/bin/time -f "%M %U %S" -o "$work/one.kib" "$tool" fleet pull --instance diffbench >"$work/one.out"
    one+=("$(ms "$start" "$(now)")")
    read -r fullKib fullUser fullSys <"$work/full.kib"
    read -r oneKib oneUser oneSys <"$work/one.kib"
    printf '%-4s %9s %11s %6s %9s %11s %10s %12s %s\n' "$run" "${full[-1]}" "${one[-1]}" \
      "$(awk -v a="${one[-1]}" -v b="${full[-1]}" 'BEGIN { printf "%.2f", a / b }')" \
      "$(awk -v u="$fullUser" -v s="$fullSys" 'BEGIN { printf "%.2f", u + s }')" \
      "$(awk -v u="$oneUser" -v s="$oneSys" 'BEGIN { printf "%.2f", u + s }')" \
      "$fullKib" "$oneKib" "$(sed 's/.*: //' "$work/one.out")"
  done
  f=$(printf '%s\n' "${full[@]}" | median)
  o=$(printf '%s\n' "${one[@]}" | median)
  echo "median: full $f ms, 1-value $o ms, ratio $(awk -v a="$o" -v b="$f" 'BEGIN { printf "%.2f", a / b }') (target at most 0.30)"
  diff_pull_wine
}
# The same pulls by vesk.exe under Wine, into the prefix's registry (the
# source is still the native store): wall time only.
diff_pull_wine() {
  if ! { cmake --preset windows >/dev/null 2>&1 && cmake --build --preset windows --parallel "$(nproc)" --target vesk_tool >/dev/null; }; then
    echo "vesk.exe under Wine: not measured (the windows preset does not build here)"
    return
  fi
  local prefix=$PWD/build/windows/wineprefix
  wine_vesk() {
    WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 build/windows/bin/vesk.exe "$@" --endpoints "$VESK_FLEET_ENDPOINTS"
  }
  sh cmake/wine-prefix.sh start "$prefix"
  echo "under Wine (vesk.exe):"
  printf '%-4s %9s %11s %6s\n' run "full ms" "1-value ms" ratio
  full=() one=()
  for run in $(seq "$runs"); do
    sample source winebench 100000 "wf$run-"
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance winebench >/dev/null
    wine_vesk fleet pull --instance winebench --force >/dev/null
    sample source winebench 100000 "wg$run-"
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance winebench >/dev/null
    start=$(now)
    wine_vesk fleet pull --instance winebench >/dev/null
    full+=("$(ms "$start" "$(now)")")
    KESTLIB_REGISTRY=$work/source.db "$tool" --instance winebench set Fleet Setting50000 "one$run" --type string
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance winebench >/dev/null
    start=$(now)
    wine_vesk fleet pull --instance winebench >/dev/null
    one+=("$(ms "$start" "$(now)")")
    printf '%-4s %9s %11s %6s\n' "$run" "${full[-1]}" "${one[-1]}" \
      "$(awk -v a="${one[-1]}" -v b="${full[-1]}" 'BEGIN { printf "%.2f", a / b }')"
  done
  # 100,000 values left in the prefix's registry would slow every later Wine run.
  WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 build/windows/bin/vesk.exe --instance winebench delete "" >/dev/null || true
  sh cmake/wine-prefix.sh stop "$prefix"
  f=$(printf '%s\n' "${full[@]}" | median)
  o=$(printf '%s\n' "${one[@]}" | median)
  echo "median under Wine: full $f ms, 1-value $o ms, ratio $(awk -v a="$o" -v b="$f" 'BEGIN { printf "%.2f", a / b }') (target at most 0.30)"
}
# From `promote` to every host of a 20-watcher ring having applied the
# candidate (alone: `bench-fleet.sh promote`): 20 watcher processes in ring
# main, each on a store of its own, a rollout through canary then main.
promote_ring() {
  echo "== promote to applied by every host of a 20-watcher ring, 1,000 values, 5 rollouts"
  local pids="" host revision start took=()
  sample source ringbench 1000 base-
  KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance ringbench >/dev/null
  for host in $(seq 20); do
    KESTLIB_REGISTRY=$work/ring$host.db "$tool" fleet watch --instance ringbench --ring main >"$work/ring$host.log" 2>&1 &
    pids="$pids $!"
  done
  watcher=$pids
  for run in $(seq 5); do
    sample source ringbench 1000 "p$run-"
    revision=$(KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --instance ringbench --rings canary,main)
    sleep 2 # every watcher has seen the rollout and waits
    start=$(now)
    "$tool" fleet promote --instance ringbench >/dev/null
    for _ in $(seq 1200); do
      [ "$(grep -l "applied revision $revision " "$work"/ring*.log | wc -l)" -eq 20 ] && break
      sleep 0.05
    done
    took+=("$(ms "$start" "$(now)")")
    echo "run $run: $(grep -l "applied revision $revision " "$work"/ring*.log | wc -l) of 20 applied in ${took[-1]} ms"
    "$tool" fleet promote --instance ringbench >/dev/null # ends the rollout
  done
  kill $pids 2>/dev/null || true
  wait $pids 2>/dev/null || true
  watcher=""
  echo "median promote-to-all-applied: $(printf '%s\n' "${took[@]}" | median) ms (min $(printf '%s\n' "${took[@]}" | sort -n | head -1), max $(printf '%s\n' "${took[@]}" | sort -n | tail -1))"
}
if [ "${1:-}" = promote ]; then
  promote_ring
  exit
fi
if [ "${1:-}" = quiet ]; then
  watcher_cost
  exit
fi
if [ "${1:-}" = diff ]; then
  diff_pull
  exit
fi

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
diff_pull

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

echo
watcher_cost

echo
promote_ring

# Chunks kept on each host: bytes served per push and 100-watcher convergence.
source scripts/bench-fleet-chunks.sh
