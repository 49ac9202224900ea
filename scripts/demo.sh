#!/usr/bin/env bash
# A short vesk session from a clean clone on Debian: installs what the Linux
# build needs, builds the linux preset, then writes typed settings for an
# instance in the default store, reads them back, lists the tree, exports it
# as a .reg file and imports that file into a second instance to show the
# round trip. Both demo instances are removed at the end unless --keep.
set -euo pipefail
cd "$(dirname "$0")/.."

keep=no
[[ ${1:-} == --keep ]] && keep=yes

source scripts/packages.sh
vesk_install linux

echo "== building the linux preset"
cmake --preset linux
cmake --build --preset linux --parallel "$(nproc)"

# --- the session
vesk=build/linux/bin/vesk
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Shows each command as typed, then its output and, when not 0, its status.
run() {
  local shown=() arg
  for arg in "$@"; do
    if [[ -z $arg || $arg =~ [[:space:]\"\\] ]]; then shown+=("'$arg'"); else shown+=("$arg"); fi
  done
  printf '\n$ vesk %s\n' "${shown[*]}"
  local status=0
  "$vesk" "$@" || status=$?
  if ((status != 0)); then echo "(exit status $status)"; fi
  return 0
}

store=${KESTLIB_REGISTRY:-${XDG_DATA_HOME:-$HOME/.local/share}/halvorn/registry.db}
echo
echo "== settings store: $store"
for instance in demo demo-copy; do
  "$vesk" --instance "$instance" delete "" 2>/dev/null || true # a fresh start
done

run --instance demo set Network Host db.example.test --type string
run --instance demo set Network Port 8080 --type int
run --instance demo set Network Mask 0xFFFFFF00 --type int
run --instance demo set Features Beta yes --type bool
run --instance demo set "" DisplayName 'Démo "north" C:\data' --type string

run --instance demo get Network Port --type int
run --instance demo get Network Mask --type int
run --instance demo get Features Beta --type bool
run --instance demo get "" DisplayName
run --instance demo get Network Timeout --type int --default 30
run --instance demo get Network Host --type int          # a string read as int: 3
run --instance demo set Network Port 70000x --type int   # refused, nothing written: 2

run --instance demo list --recursive

# UTF-8 here so that the file shows on a terminal; the default is UTF-16LE,
# as the registry editor writes.
run --instance demo export --output "$work/demo.reg" --encoding utf8
echo "--- $work/demo.reg"
cat "$work/demo.reg"

run --instance demo-copy import "$work/demo.reg" --from-instance demo
run --instance demo-copy list --recursive

echo
echo "== round trip: demo-copy exported, its key renamed back to demo, against demo.reg"
"$vesk" --instance demo-copy export --output "$work/copy.reg" --encoding utf8
if sed 's/\\Orvane\\demo-copy/\\Orvane\\demo/' "$work/copy.reg" | diff -u "$work/demo.reg" -; then
  echo "identical"
else
  echo "demo: the copy differs from the original" >&2
  exit 1
fi

if [[ $keep == no ]]; then
  "$vesk" --instance demo delete ""
  "$vesk" --instance demo-copy delete ""
  echo "== removed the demo instances again (run with --keep to look at them)"
fi
