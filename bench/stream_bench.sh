#!/bin/bash
# Stream benchmark (not a test): a 256 MiB compressible member, compressed and
# block-scrambled, extracted through the launcher's STREAM::extract under Wine against
# plain native zlib inflate of the same data (neither flushes its output to disk: the
# launcher leaves the members it writes to the system's cache); and packing with
# mksetup against plain zlib deflate at the same level. Prints
#   stream-extract ratio=<ours/native throughput> ours=<MB/s> native=<MB/s> peak_above_start=<MiB>
#   stream-pack ratio=<ours/native throughput> ours=<MB/s> native=<MB/s>
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${MIB:-256}
level=${LEVEL:-6}
cmake --build "$root/build/native" -j2 --target mksetup zbench >/dev/null
cmake --build "$root/build/win" -j2 --target setup streamx >/dev/null
work="$root/build/bench"
rm -rf "$work"; mkdir -p "$work/in"
export WINEPREFIX=${WINEPREFIX:-$root/build/win/wineprefix} WINEDEBUG=-all
"$root/scripts/wine-prefix.sh" start "$WINEPREFIX"
zb="$root/build/native/zbench"
"$zb" gen "$work/in/big.cab" "$mib"
bytes=$(stat -c %s "$work/in/big.cab")
now() { date +%s.%N; }
mbps() { python3 -c "print(f'{$1/1e6/$2:.1f}')"; }

t0=$(now)
"$root/build/native/mksetup" pack -l "$root/build/win/setup.exe" -o "$work/s.exe" --level "$level" "$work/in/big.cab" >/dev/null
t1=$(now)
ours_pack=$(python3 -c "print($t1-$t0)")
native_pack=$("$zb" deflate "$work/in/big.cab" "$work/big.z" "$level" | sed 's/.*seconds=\([0-9.]*\).*/\1/')

stats=$(timeout 600 wine "$root/build/win/streamx.exe" extract "$(winepath -w "$work/s.exe")" big.cab \
        "$(winepath -w "$work/out.cab")" --stats 2>/dev/null | tr -d '\r')
cmp -s "$work/in/big.cab" "$work/out.cab" || { echo "extracted member differs" >&2; exit 1; }
ours_x=$(echo "$stats" | sed -n 's/.*seconds=\([0-9.]*\).*/\1/p')
peak=$(echo "$stats" | sed -n 's/.*peak_above_start=\([0-9]*\).*/\1/p')
native_x=$("$zb" inflate "$work/big.z" "$work/native.out" | sed 's/.*seconds=\([0-9.]*\).*/\1/')

python3 - "$bytes" "$ours_x" "$native_x" "$ours_pack" "$native_pack" "$peak" <<'PY'
import sys
b, ox, nx, op, np_, peak = float(sys.argv[1]), *map(float, sys.argv[2:6]), int(sys.argv[6])
print(f"stream-extract ratio={nx/ox:.2f} ours={b/1e6/ox:.1f} native={b/1e6/nx:.1f} peak_above_start={peak/1048576:.1f}MiB")
print(f"stream-pack ratio={np_/op:.2f} ours={b/1e6/op:.1f} native={b/1e6/np_:.1f}")
PY
rm -rf "$work"
