#!/bin/bash
# A throwaway etcd cluster on loopback ports, for the fleet tests, the demo
# and the benchmark. Everything lives in DIR; a watchdog stops the members
# after a deadline even if whoever started them never calls stop.
#
#   etcd-cluster.sh start DIR [MEMBERS] [tls]   endpoints go to DIR/endpoints
#   etcd-cluster.sh stop DIR
#   etcd-cluster.sh kill DIR I | restart DIR I | leader DIR | compact DIR
#   etcd-cluster.sh auth DIR PASSWORD           user root, authentication on
#   etcd-cluster.sh restart DIR all             every member down, then up again
#   etcd-cluster.sh fill DIR                    writes until the NOSPACE alarm raises
#   etcd-cluster.sh role DIR USER PASSWORD PREFIX INSTANCE
#                                               a user whose role is one instance's keys (before auth)
#
# ETCD_CLUSTER_FLAGS at start: more etcd flags for every member, e.g.
# "--quota-backend-bytes 4194304" for a cluster that fills up quickly.
set -eu
action=$1
dir=$2
deadline=${ETCD_CLUSTER_DEADLINE:-1800}

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
  local port
  for _ in $(seq 200); do
    # Below Linux's ephemeral range (32768 up), where outgoing connections
    # could hold a port between this check and etcd's bind.
    port=$((20000 + RANDOM % 12000))
    if ! listening "$port" && ! grep -qsx "$port" "$dir/ports"; then
      echo "$port" >>"$dir/ports"
      echo "$port"
      return
    fi
  done
  echo "etcd-cluster: no free port found" >&2
  exit 1
}

ctl() {
  local access=()
  if [ -f "$dir/tls" ]; then
    access=(--cacert "$dir/certs/ca.pem" --cert "$dir/certs/client.pem" --key "$dir/certs/client-key.pem")
  fi
  if [ -f "$dir/auth" ]; then
    access+=(--user "root:$(cat "$dir/auth")")
  fi
  ETCDCTL_API=3 etcdctl --dial-timeout="${CLUSTER_DIAL_TIMEOUT:-2s}" --command-timeout="${CLUSTER_COMMAND_TIMEOUT:-5s}" "${access[@]}" --endpoints "$(cat "$dir/endpoints")" "$@"
}

make_certs() {
  local c=$dir/certs
  mkdir -p "$c"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=fleet-test-ca \
    -keyout "$c/ca-key.pem" -out "$c/ca.pem" 2>/dev/null
  # The client's certificate has no CommonName: with authentication on,
  # etcd's JSON gateway refuses one that has.
  for who in server client; do
    subject=/CN=$who
    [ "$who" = client ] && subject=/O=fleet-test-client
    openssl req -newkey rsa:2048 -nodes -subj "$subject" -keyout "$c/$who-key.pem" -out "$c/$who.csr" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth,clientAuth\n' >"$c/$who.ext"
    openssl x509 -req -in "$c/$who.csr" -CA "$c/ca.pem" -CAkey "$c/ca-key.pem" -CAcreateserial -days 2 \
      -extfile "$c/$who.ext" -out "$c/$who.pem" 2>/dev/null
  done
}

run_member() {
  local i=$1 state=$2
  # shellcheck disable=SC2046
  etcd $(cat "$dir/m$i.args") --initial-cluster-state "$state" >>"$dir/m$i.log" 2>&1 &
  echo $! >"$dir/m$i.pid"
}

any_member_alive() {
  for f in "$dir"/m*.pid; do
    kill -0 "$(cat "$f")" 2>/dev/null && return 0
  done
  return 1
}

wait_healthy() {
  local until=$((SECONDS + 30))
  while ((SECONDS < until)); do
    if CLUSTER_DIAL_TIMEOUT=1s CLUSTER_COMMAND_TIMEOUT=2s ctl endpoint health >/dev/null 2>&1; then return 0; fi
    any_member_alive || break
    sleep 0.3
  done
  echo "etcd-cluster: not healthy; the members' last words:" >&2
  tail -n 5 "$dir"/m*.log >&2
  return 1
}

start_members() {
  members=${3:-3}
  scheme=http
  mkdir -p "$dir"
  : >"$dir/ports"
  if [ "${4:-}" = tls ]; then
    make_certs
    touch "$dir/tls"
    scheme=https
  fi
  cluster="" endpoints=""
  for i in $(seq 0 $((members - 1))); do
    client=$(free_port) peer=$(free_port)
    echo "$client $peer" >"$dir/m$i.ports"
    cluster="$cluster${cluster:+,}m$i=http://127.0.0.1:$peer"
    endpoints="$endpoints${endpoints:+,}$scheme://127.0.0.1:$client"
  done
  echo "$endpoints" >"$dir/endpoints"
  for i in $(seq 0 $((members - 1))); do
    read -r client peer <"$dir/m$i.ports"
    tls=""
    if [ "$scheme" = https ]; then
      tls="--cert-file $dir/certs/server.pem --key-file $dir/certs/server-key.pem --client-cert-auth --trusted-ca-file $dir/certs/ca.pem"
    fi
    echo "--name m$i --data-dir $dir/m$i.data --listen-client-urls $scheme://127.0.0.1:$client \
--advertise-client-urls $scheme://127.0.0.1:$client --listen-peer-urls http://127.0.0.1:$peer \
--initial-advertise-peer-urls http://127.0.0.1:$peer --initial-cluster $cluster \
--initial-cluster-token fleet-test --heartbeat-interval 50 --election-timeout 500 $tls ${ETCD_CLUSTER_FLAGS:-}" >"$dir/m$i.args"
    run_member "$i" new
  done
  (
    sleep "$deadline"
    for f in "$dir"/m*.pid; do kill -9 "$(cat "$f")" 2>/dev/null || true; done
  ) >/dev/null 2>&1 </dev/null &
  echo $! >"$dir/watchdog.pid"
  wait_healthy
}

case $action in
  start)
    # A port another process takes between the check and etcd's bind spoils
    # one attempt, not the test: try again on other ports.
    for attempt in 1 2 3; do
      if start_members "$@"; then exit 0; fi
      "$0" stop "$dir"
      [ "$attempt" = 3 ] || echo "etcd-cluster: starting again on other ports" >&2
    done
    exit 1
    ;;
  stop)
    for f in "$dir"/m*.pid; do
      [ -f "$f" ] && kill -9 "$(cat "$f")" 2>/dev/null || true
    done
    if [ -f "$dir/watchdog.pid" ]; then
      watchdog=$(cat "$dir/watchdog.pid")
      # shellcheck disable=SC2046
      kill $(pgrep -P "$watchdog") "$watchdog" 2>/dev/null || true
    fi
    sleep 0.2
    rm -rf "$dir"
    ;;
  kill)
    kill -9 "$(cat "$dir/m$3.pid")" 2>/dev/null || true
    ;;
  restart)
    if [ "$3" = all ]; then
      for f in "$dir"/m*.pid; do kill -9 "$(cat "$f")" 2>/dev/null || true; done
      sleep 0.3
      for f in "$dir"/m*.args; do
        i=${f##*/m}
        run_member "${i%.args}" existing
      done
    else
      run_member "$3" existing
    fi
    wait_healthy
    ;;
  fill)
    # Big values, a bounded number of them: the quota is reached long before.
    head -c 262144 /dev/zero | tr '\0' x >"$dir/fill.value"
    for i in $(seq 400); do
      ctl put "fleet-test-fill-$i" <"$dir/fill.value" >/dev/null 2>&1 || break
    done
    ctl alarm list | grep -q NOSPACE
    ;;
  leader)
    # The index of the member that leads now.
    ctl endpoint status -w simple 2>/dev/null | awk -F', ' '$5 == "true" { print $1 }' | while read -r url; do
      grep -lw "${url##*:}" "$dir"/m*.ports | sed 's/.*m\([0-9]*\)\.ports/\1/'
    done | head -1
    ;;
  compact)
    # Compacts history up to the newest revision.
    revision=$(ctl put fleet-test-compact x -w json | grep -o '"revision":[0-9]*' | head -1 | cut -d: -f2)
    ctl compact "$revision" >/dev/null
    echo "$revision"
    ;;
  auth)
    ctl role add root >/dev/null
    ctl user add root --new-user-password="$3" >/dev/null
    ctl user grant-role root root >/dev/null
    ctl auth enable >/dev/null
    echo "$3" >"$dir/auth"
    ;;
  role)
    # What the fleet README gives an operator of one instance.
    user=$3 prefix=$5 instance=$6
    ctl role add "$user" >/dev/null
    ctl role grant-permission "$user" readwrite "$prefix/state/$instance" >/dev/null
    ctl role grant-permission "$user" readwrite "$prefix/rollouts/$instance" >/dev/null
    for range in history chunks hosts overlays; do
      ctl role grant-permission "$user" readwrite --prefix "$prefix/$range/$instance/" >/dev/null
    done
    ctl user add "$user" --new-user-password="$4" >/dev/null
    ctl user grant-role "$user" "$user" >/dev/null
    ;;
  *)
    echo "usage: etcd-cluster.sh start|stop|kill|restart|leader|compact|auth|role|fill DIR ..." >&2
    exit 2
    ;;
esac
