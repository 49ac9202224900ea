# shellcheck shell=bash disable=SC2154
# Sourced at the end of bench-fleet.sh (its cluster, $work, $tool, sample):
# what a push costs etcd once hosts keep their chunks, and how fast 100
# watchers converge, with the chunk cache on and off (VESK_FLEET_CACHE=off).

# Bytes the cluster's members have sent to clients so far, by etcd's own count.
served() {
  local total=0 endpoint bytes
  for endpoint in ${VESK_FLEET_ENDPOINTS//,/ }; do
    bytes=$(curl -s --max-time 5 "$endpoint/metrics" |
      awk '/^etcd_network_client_grpc_sent_bytes_total/ { s += $2 } END { printf "%d", s }')
    total=$((total + bytes))
  done
  echo "$total"
}

# Writes $work/changed.reg: instance $1 with $2 values, $3 of them (evenly
# spread, the worst case for chunks) one character longer, tagged $4.
changed_sample() {
  awk -v i="$1" -v n="$2" -v c="$3" -v t="$4" 'BEGIN {
    key = "HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\" i
    print "Windows Registry Editor Version 5.00\n\n[-" key "]\n\n[" key "\\Fleet]"
    step = c ? int(n / c) : n + 1
    for (k = 0; k < n; k++) printf "\"Setting%d\"=\"%s%d\"\n", k, (c && k % step == 0) ? "v" t : "v", k
  }' >"$work/changed.reg"
}

chunk_rows() {
  local instance=chunks100k values=100000 changes mode before after fetched
  echo
  echo "== bytes etcd served for one host's pull after a push, $values values (changed values spread evenly)"
  printf '%-10s %-6s %14s %-34s %16s %16s\n' changed cache "bytes/host" "pull says" "1,000 hosts" "10,000 hosts"
  changed_sample "$instance" "$values" 0 x
  KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --force --instance "$instance" --file "$work/changed.reg" >/dev/null
  for mode in on off; do
    mkdir -p "$work/cache-$mode"
    KESTLIB_REGISTRY=$work/cache-$mode/host.db "$tool" fleet pull --instance "$instance" >/dev/null
  done
  for changes in 1 100 10000; do
    changed_sample "$instance" "$values" "$changes" "c$changes-"
    KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --force --instance "$instance" --file "$work/changed.reg" >/dev/null
    for mode in on off; do
      before=$(served)
      fetched=$(KESTLIB_REGISTRY=$work/cache-$mode/host.db VESK_FLEET_CACHE=$([ $mode = off ] && echo off || echo default) \
        "$tool" fleet pull --instance "$instance" | sed 's/.*(fetched \(.*\))/\1/')
      after=$(served)
      printf '%-10s %-6s %14s %-34s %16s %16s\n' "$changes" "$mode" "$((after - before))" "$fetched" \
        "$(((after - before) * 1000))" "$(((after - before) * 10000))"
    done
  done
  echo "(bytes/host: every member's etcd_network_client_grpc_sent_bytes_total, before and after one pull;"
  echo " a watcher reads the same chunks, plus its watch event, the manifest, once per push)"
}

# 100 watchers, each with a store and a cache of its own; the time from a
# push to all having logged the revision, median of 10 pushes.
converge_rows() {
  local hosts=100 values=${CONVERGE_VALUES:-10000} pushes=10 instance=converge mode i run start revision
  local pids=() times=()
  echo
  echo "== push to applied by all of $hosts watchers on this machine, $values values, median of $pushes pushes"
  changed_sample "$instance" "$values" 0 x
  KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --force --instance "$instance" --file "$work/changed.reg" >/dev/null
  for mode in off on; do
    pids=() times=()
    for i in $(seq "$hosts"); do
      mkdir -p "$work/w$mode$i"
      KESTLIB_REGISTRY=$work/w$mode$i/host.db VESK_FLEET_CACHE=$([ $mode = off ] && echo off || echo default) \
        timeout 900 "$tool" fleet watch --instance "$instance" >"$work/w$mode$i/log" 2>&1 &
      pids+=($!)
    done
    for run in $(seq "$pushes"); do
      # Every watcher has applied the previous revision before the next push.
      sleep 1
      changed_sample "$instance" "$values" 1 "$mode$run-"
      start=$(now)
      revision=$(KESTLIB_REGISTRY=$work/source.db "$tool" fleet push --force --instance "$instance" --file "$work/changed.reg")
      for _ in $(seq 1200); do
        [ "$(grep -l "applied revision $revision " "$work"/w"$mode"*/log | wc -l)" -ge "$hosts" ] && break
        sleep 0.05
      done
      times+=("$(ms "$start" "$(now)")")
    done
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
    echo "cache $mode: median $(printf '%s\n' "${times[@]}" | median) ms (min $(printf '%s\n' "${times[@]}" | sort -n | head -1), max $(printf '%s\n' "${times[@]}" | sort -n | tail -1))"
  done
  echo "($values values, not 100,000: 100 stores of 100,000 values each do not apply in step on 2 shared cores)"
}

chunk_rows
converge_rows
