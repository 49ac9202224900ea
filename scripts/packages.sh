# shellcheck shell=bash
# Sourced by the scripts: the one list of Debian packages the project needs,
# by purpose, and the one function that installs what is missing.
#   linux    build the linux presets (configure needs GoogleTest too) and run `vesk`
#   windows  cross-build the windows preset and run its tests under Wine
#   fleet    the fleet tests and demo: a local etcd cluster with TLS; procps
#            (pgrep: the cluster script stops its watchdog's children, the
#            bench finds the wineserver it pins)
#   bench    scripts/bench.sh: Google Benchmark; sqlite3, curl (etcd's metrics)
#            and time (peak memory) beside vesk
#   package  scripts/package.sh and its checks: vesk(1), the .deb's
#            dependencies, the host built against the installed package

declare -A vesk_packages=(
  [linux]="cmake make g++ libgtest-dev libsqlite3-dev libssl-dev libcurl4-openssl-dev libcli11-dev nlohmann-json3-dev"
  [windows]="mingw-w64 wine64 googletest"
  [fleet]="etcd-server etcd-client openssl procps"
  [bench]="libbenchmark-dev sqlite3 curl time"
  [package]="help2man dpkg-dev file pkgconf unzip"
)

# vesk_install PURPOSE...: installs the packages of those purposes that are
# not installed yet, as root or through sudo, with one apt-get update.
vesk_install() {
  local purpose package missing=()
  for purpose in "$@"; do
    [[ -n ${vesk_packages[$purpose]+set} ]] || { echo "packages.sh: no purpose '$purpose'" >&2; return 2; }
    for package in ${vesk_packages[$purpose]}; do
      dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
  done
  ((${#missing[@]})) || return 0
  local as_root=()
  if [[ $(id -u) != 0 ]]; then
    if ! command -v sudo >/dev/null; then
      echo "installing ${missing[*]} needs root or sudo: install them and run again" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  echo "== installing ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}
