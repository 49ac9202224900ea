#!/bin/sh
# start PREFIX: makes the Wine prefix on first use and keeps one wineserver
# running for all the test programs; stop PREFIX: stops that server, by prefix.
# Wine's background processes must not hold CTest's output pipe open, so
# everything they print goes to a log in the prefix.
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
case $action in
  start)
    mkdir -p "$WINEPREFIX"
    log=$WINEPREFIX/start.log
    /usr/lib/wine/wineserver -p </dev/null >"$log" 2>&1
    /usr/lib/wine/wine64 wineboot --init </dev/null >>"$log" 2>&1
    ;;
  stop)
    /usr/lib/wine/wineserver -k || true
    ;;
esac
