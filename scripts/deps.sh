#!/bin/bash
# Installs the Debian packages the build and the tests need, skipping what is present.
#   scripts/deps.sh        everything
#   scripts/deps.sh fuzz   only what the fuzz tree needs (scripts/fuzz.sh)
set -eu
# libFuzzer and the sanitizer runtimes come with the compiler-rt package of the
# default clang's own version (clang 14 on Debian 12: libclang-rt-14-dev).
clang_rt() {
  local v
  v=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -1)
  if [ -n "$v" ]; then echo "libclang-rt-$v-dev"; else echo libclang-rt-dev; fi
}
fuzz_pkgs="cmake ninja-build zlib1g-dev clang $(clang_rt)"
if [ "${1:-}" = fuzz ]; then
  pkgs=$fuzz_pkgs
else
  pkgs="$fuzz_pkgs g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
        googletest wine wine64 wixl msitools libmsi-dev libglib2.0-dev pkg-config xvfb xauth osslsigncode python3 nginx nsis
        python3-pyftpdlib openssl"
fi
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
