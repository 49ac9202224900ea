#!/usr/bin/env bash
# `vesk fleet` in a few minutes, on one machine: starts a 3-member etcd
# cluster on loopback ports, pushes an instance from one store, runs a
# watcher on a second store that applies a change as it is pushed, then shows
# the history and a rollback, the hosts whose watchers report to the fleet,
# and a staged rollout through two rings. Each host is the real vesk on a
# store file of its own (KESTLIB_REGISTRY), as on separate machines;
# everything is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
vesk_install linux fleet

echo "== building vesk and starting a 3-member etcd cluster on loopback ports"
source scripts/fleet-hosts.sh
echo "VESK_FLEET_ENDPOINTS=$VESK_FLEET_ENDPOINTS"

# Shows each command as typed on host "$1", then its output and status.
on() {
  local host=$1
  shift
  printf '\n[%s]$ vesk %s\n' "$host" "$*"
  local status=0
  KESTLIB_REGISTRY=$work/$host.db "$tool" "$@" || status=$?
  if ((status != 0)); then echo "(exit status $status)"; fi
  return 0
}

# Waits (at most 30 s) for the watcher's log ($2, else web1's) to show
# revision $1 applied.
await() {
  local log=$work/${2:-web1}.log
  for _ in $(seq 300); do
    grep -q "applied revision $1 " "$log" && return 0
    sleep 0.1
  done
  echo "demo: the watcher did not apply revision $1; its log:" >&2
  cat "$log" >&2
  exit 1
}

echo
echo "== host 'ops' holds instance A with 3 settings, and publishes it"
sample ops A 3
first=$(KESTLIB_REGISTRY=$work/ops.db "$tool" fleet push --instance A)
echo "[ops]$ vesk fleet push --instance A"
echo "$first"

echo
echo "== host 'web1' runs the watcher (as a service would)"
KESTLIB_REGISTRY=$work/web1.db "$tool" fleet watch --instance A --host-name web1 >"$work/web1.log" 2>&1 &
web1=$!
watcher=$web1
await "$first"
cat "$work/web1.log"
on web1 fleet status --instance A --host-name web1

echo
echo "== 'ops' changes A (5 settings now) and pushes, guarded by the revision it saw"
sample ops A 5
second=$(KESTLIB_REGISTRY=$work/ops.db "$tool" fleet push --instance A --if-revision "$first")
echo "[ops]$ vesk fleet push --instance A --if-revision $first"
echo "$second"
await "$second"
tail -1 "$work/web1.log"
echo "-- a second push from the same stale revision is refused:"
on ops fleet push --instance A --if-revision "$first"

echo
echo "== history, and a rollback to the first revision"
on ops fleet history --instance A
third=$(KESTLIB_REGISTRY=$work/ops.db "$tool" fleet rollback --instance A --to "$first")
echo "[ops]$ vesk fleet rollback --instance A --to $first"
echo "$third"
await "$third"
tail -1 "$work/web1.log"
on web1 fleet status --instance A --host-name web1
on ops fleet history --instance A

echo
echo "== a new host 'web2' looks before it pulls"
sample web2 A 4 x
on web2 fleet pull --instance A --dry-run
on web2 fleet pull --instance A
on web2 fleet status --instance A --host-name web2

echo
echo "== 'web2' runs a watcher too; each watcher reports its host, kept alive under an etcd lease"
KESTLIB_REGISTRY=$work/web2.db "$tool" fleet watch --instance A --host-name web2 >"$work/web2.log" 2>&1 &
watcher="$web1 $!"
for _ in $(seq 300); do
  KESTLIB_REGISTRY=$work/ops.db "$tool" fleet hosts --instance A | grep -q "^web2 " && break
  sleep 0.1
done
on ops fleet hosts --instance A
on web2 fleet status --instance A --host-name web2

echo
echo "== a staged rollout: 'can1' watches in ring canary, 'main1' in ring main, web1 and web2 in the default ring (last)"
for host in can1 main1; do
  ring=${host%1}
  ring=${ring/can/canary}
  KESTLIB_REGISTRY=$work/$host.db "$tool" fleet watch --instance A --ring "$ring" --host-name "$host" >"$work/$host.log" 2>&1 &
  watcher="$watcher $!"
  echo "[$host]$ vesk fleet watch --instance A --ring $ring --host-name $host &"
done
await "$third" can1
await "$third" main1
sample ops A 6
fourth=$(KESTLIB_REGISTRY=$work/ops.db "$tool" fleet push --instance A --rings canary,main --max-failures 1)
echo "[ops]$ vesk fleet push --instance A --rings canary,main --max-failures 1"
echo "$fourth"
await "$fourth" can1
sleep 1
echo "-- canary applied it; main1, web1 and web2 wait for their ring:"
tail -1 "$work/can1.log"
tail -1 "$work/main1.log"
on ops fleet hosts --instance A
on ops fleet promote --instance A
await "$fourth" main1
tail -1 "$work/main1.log"
on ops fleet promote --instance A
await "$fourth"
await "$fourth" web2
tail -1 "$work/web1.log"
on web1 fleet status --instance A --host-name web1

echo
echo "== stopping web1's watcher with SIGTERM: it revokes its lease, so web1 leaves the list at once"
kill -TERM "$web1"
wait "$web1" && echo "watcher exited with status 0"
watcher=${watcher#"$web1 "}
tail -1 "$work/web1.log"
on ops fleet hosts --instance A --json
echo "(a watcher killed outright leaves the list when its lease expires, 30 s later)"

echo
echo "== stopping the other watchers with SIGTERM"
for pid in $watcher; do
  kill -TERM "$pid"
  wait "$pid" && echo "watcher $pid exited with status 0"
done
watcher=""
