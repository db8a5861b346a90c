#!/bin/bash
# wine-prefix.sh start|stop PREFIX: a private Wine prefix for one test run, with a
# persistent wineserver so that every later process starts in milliseconds.
set -eu
cmd=$1; prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all
case $cmd in
start)
  mkdir -p "$prefix"
  # One persistent server for the whole run; a leftover one is replaced.
  wineserver -k >/dev/null 2>&1 || true
  # -k only asks: a new server cannot start until the old one is gone.
  timeout 60 wineserver -w >/dev/null 2>&1 || true
  # The server and the services Wine starts outlive this script: keep them off its
  # output, or CTest would wait for them to close it.
  wineserver -p </dev/null >/dev/null 2>&1
  # The limits are generous: a new prefix on a busy machine takes minutes, not seconds.
  if [ ! -f "$prefix/system.reg" ]; then
    timeout 600 wineboot -i </dev/null >/dev/null 2>&1
    # Under bare Xvfb windows only get their caption when Wine draws them itself.
    timeout 300 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    timeout 300 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    timeout 300 wine winecfg -v win10 >/dev/null 2>&1 || true
  else
    timeout 300 wineboot </dev/null >/dev/null 2>&1 || true
  fi
  ;;
stop)
  wineserver -k >/dev/null 2>&1 || true
  ;;
*) echo "usage: $0 start|stop PREFIX" >&2; exit 2;;
esac
