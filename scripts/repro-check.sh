#!/bin/bash
# Builds setup.exe and chainsetup.exe twice, each time from a fresh copy of one
# commit in a folder of its own (of a different depth, so that a build path inside
# an image would show), and compares the two builds byte for byte. Run by hand: it
# takes two clean builds of the launchers, and CI does not run it.
#   scripts/repro-check.sh [COMMIT]     (default HEAD; uncommitted changes are not built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:-HEAD}
"$root/scripts/deps.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/qz-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
trees=("$work/a" "$work/second/copy/of/the/tree")
for tree in "${trees[@]}"; do
  mkdir -p "$tree/src"
  git -C "$root" archive "$rev" | tar -x -C "$tree/src"
  cmake -S "$tree/src" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$tree/src/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$tree/build" -j "$(nproc)" --target setup chainsetup >/dev/null
done
status=0
for exe in setup.exe chainsetup.exe; do
  a=${trees[0]}/build/$exe b=${trees[1]}/build/$exe
  if cmp -s "$a" "$b"; then
    echo "$exe: identical ($(sha256sum < "$a" | cut -c1-16)...)"
  else
    echo "$exe: DIFFERENT (first differing bytes below)"
    cmp -l "$a" "$b" | head -5
    status=1
  fi
  python3 "$root/scripts/pecheck.py" "$a" >/dev/null || { echo "$exe: fails the PE check"; status=1; }
done
exit $status
