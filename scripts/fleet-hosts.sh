# Sourced by the fleet demo and benchmark: builds vesk, starts a 3-member
# etcd cluster on loopback ports in a scratch folder ($work), points
# VESK_FLEET_ENDPOINTS at it, and removes everything (a $watcher included)
# when the script exits. Each host is a store file of its own in $work.
# $watcher may hold several process ids, blank-separated.
cmake --preset linux >/dev/null
cmake --build --preset linux --parallel "$(nproc)" --target vesk_tool >/dev/null
tool=$PWD/build/linux/bin/vesk
cluster_script=$PWD/tests/fleet/etcd-cluster.sh

work=$(mktemp -d)
watcher=""
cleanup() {
  # shellcheck disable=SC2086 # one word per process id
  [[ -n $watcher ]] && kill $watcher 2>/dev/null || true
  bash "$cluster_script" stop "$work/etcd" || true
  rm -rf "$work"
}
trap cleanup EXIT
bash "$cluster_script" start "$work/etcd" 3
export VESK_FLEET_ENDPOINTS
VESK_FLEET_ENDPOINTS=$(cat "$work/etcd/endpoints")

# Sets instance $2 of store $1 to $3 string values (data prefixed $4), as an
# operator would: a .reg file, imported.
sample() {
  awk -v i="$2" -v n="$3" -v p="${4:-v}" 'BEGIN {
    key = "HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\" i
    print "Windows Registry Editor Version 5.00\n\n[-" key "]\n\n[" key "\\Fleet]"
    for (k = 0; k < n; k++) printf "\"Setting%d\"=\"%s%d\"\n", k, p, k
  }' >"$work/sample.reg"
  KESTLIB_REGISTRY=$work/$1.db "$tool" --instance "$2" import "$work/sample.reg"
}
