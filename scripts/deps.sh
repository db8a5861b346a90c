#!/bin/bash
# Installs the Debian packages the build and the tests need, skipping what is present.
set -eu
pkgs="cmake ninja-build g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
      zlib1g-dev googletest wine wine64 wixl msitools xvfb xauth osslsigncode python3 nginx nsis clang libclang-rt-14-dev"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
