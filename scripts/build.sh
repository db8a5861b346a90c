#!/bin/bash
# Builds everything: the native tree (packing tool, portable parsers and their tests)
# and the cross tree (setup.exe, chainsetup.exe, test programs).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
jobs=$(nproc)
# A compiler cache, when the machine has one, is shared by every checkout: paths are
# made relative to the checkout, so two checkouts of one commit compile once.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$root
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
native=$root/build/native
win=$root/build/win
cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build "$native" -j "$jobs"
cmake -S "$root" -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQZ_NATIVE_BUILD_DIR="$native" >/dev/null
cmake --build "$win" -j "$jobs"
# The launchers must end at their PE image end, import no runtime library and carry
# the right manifest, version and icon.
python3 "$root/scripts/pecheck.py" "$win/setup.exe" "$win/chainsetup.exe"
