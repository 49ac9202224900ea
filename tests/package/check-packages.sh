#!/usr/bin/env bash
# The packages scripts/package.sh made, used as their users get them: the
# .deb unpacked into a scratch root, its vesk run on a scratch store, a host
# built against it through find_package and through pkg-config, loading its
# libvesk.so; the zip's vesk.exe run under Wine in a prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/../.."
packages=$PWD/build/packages
work=$(mktemp -d)
prefix=$work/wineprefix
cleanup() {
  [[ -d $prefix ]] && sh cmake/wine-prefix.sh stop "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "check-packages: $*" >&2
  exit 1
}
# shipped OBJDUMP BINARY: stripped, linked to its debug file, exporting what
# the library must.
shipped() {
  local sections
  sections=$("$1" -h "$2")
  [[ $sections != *.debug_info* && $sections == *.gnu_debuglink* ]] || fail "$2 is not stripped with a debug link"
  [[ $2 == *.so || $2 == *.dll ]] || return 0
  sh cmake/check-exports.sh "$2" >/dev/null || fail "$(sh cmake/check-exports.sh "$2")"
}
# expect WANT COMMAND...: the command succeeds and prints WANT.
expect() {
  local got
  got=$("${@:2}" | tr -d '\r') || fail "'${*:2}' failed"
  [[ $got == "$1" ]] || fail "'${*:2}' printed '$got', not '$1'"
}

deb=$(echo "$packages"/vesk_*_amd64.deb)
version=$(dpkg-deb -f "$deb" Version)
root=$work/root
echo "== $deb, unpacked into a scratch root"
dpkg-deb -x "$deb" "$root"
export KESTLIB_REGISTRY=$work/store.db
vesk=$root/usr/bin/vesk
expect "vesk $version" "$vesk" --version
"$vesk" --instance pkg set Network Host db.example.test --type string
expect db.example.test "$vesk" --instance pkg get Network Host
[[ $("$vesk" --instance pkg export --encoding utf8) == *'"Host"="db.example.test"'* ]] || fail "the export lacks the value set"
for file in usr/share/man/man1/vesk.1.gz usr/lib/systemd/system/vesk-fleet@.service; do
  [[ -s $root/$file ]] || fail "the package lacks /$file"
done
for binary in "$vesk" "$root"/usr/lib/*/libvesk.so; do
  shipped objdump "$binary"
done
[[ $(dpkg-deb -c "$packages"/vesk-dbgsym_*.ddeb) == */usr/lib/debug/.build-id/*.debug* ]] || fail "the -dbgsym package holds no debug files"

echo "== a host built with find_package(vesk), then with pkg-config"
cmake -S tests/package/host -B "$work/host" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/host" >/dev/null
expect "$version db.example.test" "$work/host/vesk_host" pkg Network Host
PKG_CONFIG_PATH=$(echo "$root"/usr/lib/*/pkgconfig)
export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_PATH
# shellcheck disable=SC2046 # the flags are words
g++ -std=c++17 $(pkg-config --cflags vesk) -DVESK_LIBRARY="\"$(pkg-config --variable=library vesk)\"" \
  tests/package/host/Host.cpp -o "$work/host-pc"
expect "$version db.example.test" "$work/host-pc" pkg Network Host

zip=$(echo "$packages"/vesk-*-win64.zip)
echo "== $zip, under Wine"
unzip -q "$zip" -d "$work/zip"
sh cmake/wine-prefix.sh start "$prefix"
wine() { WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 "$@"; }
exe=$(echo "$work"/zip/*/vesk.exe)
for binary in "$exe" "${exe%.exe}.dll"; do
  shipped x86_64-w64-mingw32-objdump "$binary"
done
expect "vesk $version" wine "$exe" --version
wine "$exe" --instance pkg set Network Port 8080 --type int
expect 8080 wine "$exe" --instance pkg get Network Port --type int
echo "packages checked"
