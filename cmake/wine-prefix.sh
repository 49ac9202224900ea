#!/bin/sh
# start PREFIX: makes the Wine prefix on first use and keeps one wineserver
# running for all the test programs; stop PREFIX: stops that server, by prefix.
# Wine's background processes must not hold CTest's output pipe open, so
# everything they print goes to a log in the prefix.
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
server=/usr/lib/wine/wineserver

# A session: one persistent wineserver for the prefix, booted by wineboot.
# Only a new prefix is booted with --init: on a made one it starts a second
# service manager beside the session's own, and services made through one
# are then unknown to the other.
boot() {
  "$server" -p </dev/null >>"$log" 2>&1
  /usr/lib/wine/wine64 wineboot "$@" </dev/null >>"$log" 2>&1
}

case $action in
  start)
    mkdir -p "$WINEPREFIX"
    log=$WINEPREFIX/start.log
    : >"$log"
    # Making the prefix leaves its own work running after wineboot returns
    # (the desktop of the update dialog closing, services still starting,
    # the menu builder in a new home). It gets a session of its own, ended
    # before the tests' session starts, so that every run, the first
    # included, starts its tests from a made prefix as later runs do.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      boot --init
      "$server" -k </dev/null >>"$log" 2>&1 || true
      "$server" -w </dev/null >>"$log" 2>&1 || true
    fi
    boot
    ;;
  stop)
    "$server" -k || true
    ;;
esac
