#!/bin/sh
# Emulator for CTest: runs a cross-built test program under the run's private prefix.
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
