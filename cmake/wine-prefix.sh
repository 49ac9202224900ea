#!/bin/sh
# start PREFIX: makes the Wine prefix on first use and keeps one wineserver
# running for all the test programs; stop PREFIX: stops that server, by prefix.
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
case $action in
  start)
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wineserver -p
    /usr/lib/wine/wine64 wineboot --init
    ;;
  stop)
    /usr/lib/wine/wineserver -k || true
    ;;
esac
