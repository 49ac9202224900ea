#!/usr/bin/env bash
# The vesk tool at scale, each figure beside its peer measured in the same
# run on the same tree: natively `vesk export` against `sqlite3 STORE .dump`;
# under Wine `vesk export`, `get` and `import` against Wine's own `reg` in the
# same prefix, both tools served by the one persistent wineserver the prefix
# script starts (`wineserver -p`), so neither pays for starting it. Under
# Wine the server and both tools run on one CPU (PIN=0 lets the scheduler
# place them): every registry call is a round trip to the server, and on a
# virtual machine a wake-up on the other CPU costs more than the call and
# varies threefold from run to run, which would drown what the tools
# themselves cost. Trees: one key of N dword values, and N/10 keys of 10
# string values each. Every time is the median of its runs (3*REPS below
# 10,000, REPS below 100,000, at most 3 from there), whole processes as an
# operator starts them, vesk's runs alternating with its peer's so that the
# machine's drift touches both alike; an import runs after the tree is
# deleted, an export on the tree the last import left, both sides alike;
# "decade" is the time at N over the time at N/10
# (target at most 12). Beside each time is the process's peak resident memory
# (GNU time's %M, the largest of the runs): under Wine that of the program's
# own process (the loader becomes it), not the shared wineserver's. The vesk
# under Wine is vesk.exe as the package installs it, its debugging
# information split off (Wine reads a PE file's sections into memory, so an
# unstripped build would count them). A run past LIMIT seconds shows as
# "timeout". SIZES="1000 10000" runs other sizes (for a quick look);
# VESK_EXE=FILE measures another vesk.exe under Wine (an earlier build).
# Usage: bench/scale.sh [native|wine]...
set -euo pipefail
cd "$(dirname "$0")/.."

REPS=${REPS:-5}
PIN=${PIN:-1}
LIMIT=${LIMIT:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ROOT='HKEY_LOCAL_MACHINE\Software\Halvorn\Tessaly\Orvane\bench'

# The .reg text of a tree of $2 values below $1, as shape $3 lays it out.
tree() {
  # The root through the environment: -v would take its backslashes as escapes.
  TREE_ROOT=$1 awk -v n="$2" -v shape="$3" 'BEGIN {
    root = ENVIRON["TREE_ROOT"]
    print "Windows Registry Editor Version 5.00\n"
    if (shape == "dwords") {
      print "[" root "\\K]"
      for (i = 0; i < n; i++) printf "\"v%d\"=dword:%08x\n", i, i
    } else {
      for (k = 0; k < n / 10; k++) {
        printf "\n[%s\\K\\k%06d]\n", root, k
        for (i = 0; i < 10; i++) printf "\"s%d\"=\"text %d of key %d\"\n", i, i, k
      }
    }
  }'
}

# UTF-16LE with a byte-order mark and CRLF, as Wine's reg reads it.
utf16() { printf '\xff\xfe'; sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE; }

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# One timed run of "$@": appends its milliseconds to the array named $1 and
# raises the peak named $2 to its peak resident memory; $SETUP (a command)
# runs untimed first. False (with "timeout" or "failed" in $1) when it did not end well.
run_once() {
  local -n run_ms=$1 run_peak=$2; shift 2
  local start code=0 kb
  [ -n "${SETUP:-}" ] && eval "$SETUP" >/dev/null 2>&1
  start=$(now_ms)
  timeout "$LIMIT" /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>"$work/err" || code=$?
  if [ "$code" = 124 ]; then run_ms=(timeout); return 1; fi
  if [ "$code" != 0 ]; then echo "failed($code): $(head -c 200 "$work/err")" >&2; run_ms=(failed); return 1; fi
  run_ms+=($(( $(now_ms) - start )))
  kb=$(tail -n 1 "$work/peak")
  [ "$kb" -gt "$run_peak" ] && run_peak=$kb
  return 0
}

# "MS KB" of the array named $1 of times and the peak $2: the median, or the word a failed run left.
summary() {
  local -n summary_ms=$1
  case ${summary_ms[0]:-failed} in timeout|failed) echo "${summary_ms[0]:-failed} -"; return ;; esac
  echo "$(printf '%s\n' "${summary_ms[@]}" | sort -n | sed -n "$(( (${#summary_ms[@]} + 1) / 2 ))p") $2"
}

# "MS KB": the median milliseconds of "$@" over the runs and the largest
# peak resident memory of them; $SETUP (a command) runs untimed first each time.
measure() {
  local runs=$1; shift
  local times=() peak=0
  for ((r = 0; r < runs; r++)); do
    run_once times peak "$@" || break
  done
  summary times "$peak"
}

# measure of the vesk command and of its peer (after --) in alternating
# runs, so that the machine's drift touches both alike; sets PAIR_VESK and PAIR_PEER.
measure_pair() {
  local runs=$1; shift
  local vesk=() peer=() split vesk_times=() peer_times=() vesk_peak=0 peer_peak=0 vesk_ok=1 peer_ok=1
  for ((split = 1; split <= $#; split++)); do [ "${!split}" = -- ] && break; done
  vesk=("${@:1:split-1}")
  peer=("${@:split+1}")
  for ((r = 0; r < runs; r++)); do
    [ $peer_ok = 1 ] && { run_once peer_times peer_peak "${peer[@]}" || peer_ok=0; }
    [ $vesk_ok = 1 ] && { run_once vesk_times vesk_peak "${vesk[@]}" || vesk_ok=0; }
  done
  PAIR_VESK=$(summary vesk_times "$vesk_peak")
  PAIR_PEER=$(summary peer_times "$peer_peak")
}

ROWS=()
# row FIGURE N "VESK_MS VESK_KB" "PEER_MS PEER_KB" TARGET
row() { ROWS+=("$1|$2|$3|$4|$5"); }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a ~ /^[0-9]+$/ && b ~ /^[0-9]+$/ && b > 0) printf "%.2f", a / b; else print "-" }'; }
mb() { awk -v k="$1" 'BEGIN { if (k ~ /^[0-9]+$/ && k > 0) printf "%.1f", k / 1024; else print "-" }'; }

print_table() {
  echo
  printf '%-30s %7s %9s %9s %6s %6s %8s %8s %7s\n' figure N "vesk ms" "peer ms" ratio target "vesk MB" "peer MB" decade
  local line figure n vesk peer target prev vms vkb pms pkb
  declare -A last
  for line in "${ROWS[@]}"; do
    IFS='|' read -r figure n vesk peer target <<<"$line"
    read -r vms vkb <<<"$vesk"
    read -r pms pkb <<<"${peer:--}"
    prev=${last[$figure]:-}
    decade=-
    if [ -n "$prev" ]; then
      IFS=: read -r pn pv <<<"$prev"
      [ "$n" = $(( pn * 10 )) ] && decade=$(ratio "$vms" "$pv")
    fi
    case $n in 1000|10000|100000) last[$figure]="$n:$vms" ;; esac
    printf '%-30s %7s %9s %9s %6s %6s %8s %8s %7s\n' "$figure" "$n" "$vms" "${pms:--}" "$(ratio "$vms" "$pms")" "$target" \
      "$(mb "$vkb")" "$(mb "${pkb:-}")" "$decade"
  done
}

runs_for() {
  if [ "$1" -ge 100000 ]; then echo $(( REPS < 3 ? REPS : 3 ))
  elif [ "$1" -ge 10000 ]; then echo "$REPS"
  else echo $(( 3 * REPS )); fi
}

native() {
  echo "== native: vesk export beside sqlite3 STORE .dump (linux preset)"
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j "$(nproc)" --target vesk_tool vesk >/dev/null
  local vesk=$PWD/build/linux/bin/vesk
  export KESTLIB_REGISTRY=$work/registry.db
  echo "peer: sqlite3 \$KESTLIB_REGISTRY .dump > /dev/null"
  echo "vesk: vesk --instance bench export K > /dev/null; vesk --instance bench import FILE; vesk --instance bench get K vN-1 --type int"
  local shape n runs file
  for shape in dwords strings; do
    for n in ${SIZES:-1000 10000 100000}; do
      runs=$(runs_for "$n")
      file=$work/$shape-$n.reg
      tree "$ROOT" "$n" "$shape" >"$file"
      rm -f "$KESTLIB_REGISTRY"*
      SETUP="rm -f $KESTLIB_REGISTRY*" 
      local import_ms; import_ms=$(measure "$runs" "$vesk" --instance bench import "$file")
      SETUP=""
      rm -f "$KESTLIB_REGISTRY"*
      "$vesk" --instance bench import "$file" >/dev/null
      row "native import, $shape" "$n" "$import_ms" - -
      measure_pair "$runs" "$vesk" --instance bench export K -- sqlite3 "$KESTLIB_REGISTRY" .dump
      row "native export, $shape" "$n" "$PAIR_VESK" "$PAIR_PEER" "<= 3"
      if [ "$shape" = dwords ]; then
        row "native get of the last value" "$n" "$(measure "$runs" "$vesk" --instance bench get K "v$((n - 1))" --type int)" - -
      fi
    done
  done
  unset KESTLIB_REGISTRY
}

wine_part() {
  echo "== Wine: vesk beside Wine's reg in the same prefix (windows preset)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$(nproc)" --target vesk_tool vesk >/dev/null
  prefix=$PWD/build/windows/wineprefix
  sh cmake/wine-prefix.sh start "$prefix"
  trap 'sh cmake/wine-prefix.sh stop "$prefix"; rm -rf "$work"' EXIT
  local wine="env WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64" where="scheduler's choice"
  if [ "$PIN" = 1 ]; then
    # The server of this prefix only: it works in a folder named after the
    # prefix's device and inode.
    local server folder
    folder=$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))
    server=$(for pid in $(pgrep -x wineserver64); do
      case $(readlink "/proc/$pid/cwd") in */"$folder") echo "$pid" ;; esac; done | head -1)
    if [ -n "$server" ] && taskset -p 1 "$server" >/dev/null; then
      wine="taskset 1 $wine" where="CPU 0 (server and tool)"
    fi
  fi
  # As the package installs it (cmake/package/SplitDebug.cmake strips it).
  x86_64-w64-mingw32-objcopy --strip-all "${VESK_EXE:-build/windows/bin/vesk.exe}" "$work/vesk.exe"
  local vesk="$wine $work/vesk.exe --instance bench"
  # reg.exe loaded directly, as vesk.exe is: `wine reg` would run it in a
  # second process under start.exe, and time the start of two processes
  # and the memory of the wrong one.
  local reg="$wine $prefix/drive_c/windows/system32/reg.exe"
  local dos="Z:${work//\//\\}"
  echo "peers: reg.exe (system32 of the prefix, started directly) export $ROOT\\K FILE /y; reg query $ROOT\\K /v vN-1; reg import FILE (each after reg delete $ROOT /f)"
  echo "both:  one wineserver -p for the prefix, on $where; memory is the tool's own process, the server"
  echo "       not counted; median of alternating runs ($((3 * REPS)) below 10,000, $REPS below 100,000, at most 3"
  echo "       from there), wall time of the whole process"
  echo "vesk:  vesk --instance bench export K --output FILE; vesk --instance bench get K vN-1 --type int; vesk --instance bench import FILE"
  local shape n runs file sizes
  for shape in dwords strings; do
    # The targets' own sizes, 20,000 dwords and 200 keys x 10 strings, among the decades.
    if [ "$shape" = dwords ]; then sizes="1000 10000 20000 100000"; else sizes="1000 2000 10000 100000"; fi
    for n in ${SIZES:-$sizes}; do
      runs=$(runs_for "$n")
      file=$work/$shape-$n.reg
      tree "$ROOT" "$n" "$shape" | utf16 >"$file"
      SETUP="$reg delete '$ROOT' /f"
      measure_pair "$runs" $vesk import "$dos\\$shape-$n.reg" -- $reg import "$dos\\$shape-$n.reg"
      SETUP=""
      row "Wine import, $shape" "$n" "$PAIR_VESK" "$PAIR_PEER" "<= 1"
      measure_pair "$runs" $vesk export K --output "$dos\\vesk.reg" -- $reg export "$ROOT\\K" "$dos\\reg.reg" /y
      row "Wine export, $shape" "$n" "$PAIR_VESK" "$PAIR_PEER" "<= 1"
      if [ "$shape" = dwords ]; then
        measure_pair "$runs" $vesk get K "v$((n - 1))" --type int -- $reg query "$ROOT\\K" /v "v$((n - 1))"
        row "Wine get of the last value" "$n" "$PAIR_VESK" "$PAIR_PEER" "<= 2"
      fi
      $reg delete "$ROOT" /f >/dev/null 2>&1 || true
    done
  done
}

parts=${*:-native wine}
for part in $parts; do
  case $part in
    native) native ;;
    wine) wine_part ;;
    *) echo "unknown part $part: native or wine" >&2; exit 2 ;;
  esac
done
print_table
