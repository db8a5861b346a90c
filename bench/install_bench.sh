#!/bin/bash
# Installation benchmark (not a test): the time from starting a setup executable
# to the product being installed, ours against an NSIS installer (makensis,
# amd64-unicode, zlib) that carries the same MSI, extracts it and runs
# msiexec /qn. Both run silently under the same Wine prefix, one after the other,
# with the product removed between runs. Prints, for a small package and for one
# with a 200 MB payload (MIB to change it),
#   install-vs-nsis ratio=<ours/peer> ours=<s> peer=<s>        until the product is registered
#   install-vs-nsis-exit ratio=<ours/peer> ours=<s> peer=<s>   until the setup has ended
# The first is the time from starting the setup to the product being installed (its
# uninstall key appears, watched by regwait.exe); the second, until the setup's
# process has ended, also holds what each does after the installation (ours: the
# clean-up passes of its temporary folder, and the first launcher's end).
# Each figure is the best of RUNS runs (default 3).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${MIB:-200}
runs=${RUNS:-3}
# Codes of its own (bench/payload.wxs): the prefix is the tests' one, and a bench
# product left installed under one of their codes (a stopped run, say) made their
# own installations of that code answer otherwise.
product='{B3E1C7A2-5D94-4F08-9A6B-2C7E81D40F35}'
command -v makensis >/dev/null || { echo "makensis is missing (Debian package nsis)" >&2; exit 1; }
cmake --build "$root/build/native" -j2 --target mksetup zbench >/dev/null
cmake --build "$root/build/win" -j2 --target setup runexit >/dev/null
work="$root/build/bench-install"
rm -rf "$work"; mkdir -p "$work"
export WINEPREFIX=${WINEPREFIX:-$root/build/win/wineprefix} WINEDEBUG=-all
"$root/scripts/wine-prefix.sh" start "$WINEPREFIX"
# Stopped or not, the run leaves no product installed.
remove() { wine msiexec /x "$product" /qn >/dev/null 2>&1 || true; }
trap 'remove; "$root/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
runexit=$root/build/win/runexit.exe
regwait=$work/regwait.exe
x86_64-w64-mingw32-gcc -municode -O2 -s -o "$regwait" "$root/bench/regwait.c"

# The packages: the small one has a 1 KiB payload.
build_package() {  # NAME MIB
  local dir=$work/$1
  mkdir -p "$dir"
  if [ "$2" = 0 ]; then head -c 1024 /dev/urandom > "$dir/payload.bin"
  else "$root/build/native/zbench" gen "$dir/payload.bin" "$2" >/dev/null; fi
  # wixl takes sources relative to the folder of the .wxs.
  cp "$root/bench/payload.wxs" "$dir/"
  (cd "$dir" && wixl -a x64 -D Payload=payload.bin -o bench.msi payload.wxs)
  rm -f "$dir/payload.bin"
  local code; code=$(msiinfo suminfo "$dir/bench.msi" | sed -n 's/^Revision number (UUID): //p' | tr -d '\r\n')
  printf '[Startup]\r\nPackageName=bench.msi\r\nProductCode=%s\r\nPackageCode=%s\r\nProductVersion=1.0.0\r\nWaitInstallation=Y\r\n[bench.msi]\r\nType=1\r\n' \
    "$product" "$code" > "$dir/setup.ini"
  "$root/build/native/mksetup" pack -l "$root/build/win/setup.exe" -o "$dir/setup.exe" "$dir/setup.ini" "$dir/bench.msi" >/dev/null
  cat > "$dir/peer.nsi" <<NSI
Unicode true
Target amd64-unicode
SetCompressor zlib
OutFile "$dir/peer.exe"
RequestExecutionLevel admin
SilentInstall silent
Section
  InitPluginsDir
  SetOutPath "\$PLUGINSDIR"
  File "$dir/bench.msi"
  ExecWait 'msiexec /i "\$PLUGINSDIR\\bench.msi" /qn' \$0
  SetOutPath "\$TEMP"
  SetErrorLevel \$0
SectionEnd
NSI
  makensis -V1 "$dir/peer.nsi" >/dev/null
}

installed() { wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" >/dev/null 2>&1; }

time_run() {  # EXE ARGS -> "<seconds to registered> <seconds to exit>"
  remove
  local t0 t1 out watcher
  rm -f "$work/registered_at"
  # The watcher starts first and settles, so its own start-up is not counted.
  ( wine "$regwait" "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" </dev/null >/dev/null 2>&1 \
      && date +%s.%N > "$work/registered_at" ) &
  watcher=$!
  sleep 1
  local exe; exe=$(winepath -w "$1")
  t0=$(date +%s.%N)
  # Into a file, not a pipe: under Wine every process inherits the terminal's
  # descriptors, so a pipe also waits for what a setup leaves running after it has
  # ended (ours: the interpreter that removes its temporary folder), which is not
  # what a deployment tool waits for.
  QZ_RUNEXIT_CMDLINE="\"$exe\"${2:+ $2}" QZ_RUNEXIT_TIMEOUT_MS=600000 timeout 700 wine "$runexit" \
    </dev/null >"$work/runexit.out" 2>/dev/null || true
  t1=$(date +%s.%N)
  out=$(tr -d '\r' <"$work/runexit.out")
  wait "$watcher" || true
  case "$out" in *exit=0*) ;; *) echo "$1 failed: $out" >&2; exit 1;; esac
  installed && [ -s "$work/registered_at" ] || { echo "$1 did not install the product" >&2; exit 1; }
  python3 -c "print($(cat "$work/registered_at")-$t0, $t1-$t0)"
}

best() { python3 -c "import sys; print(min(map(float, sys.argv[1:])))" "$@"; }

for size in 0 "$mib"; do
  name=p$size
  build_package "$name" "$size"
  ours=(); peer=(); ours_exit=(); peer_exit=()
  for _ in $(seq "$runs"); do
    read -r reg end < <(time_run "$work/$name/setup.exe" '/s /v"/qn"'); ours+=("$reg"); ours_exit+=("$end")
    read -r reg end < <(time_run "$work/$name/peer.exe" ''); peer+=("$reg"); peer_exit+=("$end")
  done
  label=$([ "$size" = 0 ] && echo small || echo "${size}MB")
  o=$(best "${ours[@]}"); p=$(best "${peer[@]}")
  python3 -c "print(f'install-vs-nsis ratio={$o/$p:.2f} ours={$o:.2f} peer={$p:.2f} package=$label')"
  o=$(best "${ours_exit[@]}"); p=$(best "${peer_exit[@]}")
  python3 -c "print(f'install-vs-nsis-exit ratio={$o/$p:.2f} ours={$o:.2f} peer={$p:.2f} package=$label')"
done
remove
rm -rf "$work"
