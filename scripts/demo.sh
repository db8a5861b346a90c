#!/bin/bash
# The main job: builds everything, then starts the launcher under Wine and shows
# what it did (its relaunch from a temporary copy, its debug log and exit code).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
win=$root/build/win
prefix=$win/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=-all
"$root/scripts/wine-prefix.sh" start "$prefix"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
demo=$win/demo
rm -rf "$demo"; mkdir -p "$demo"
cp "$win/setup.exe" "$demo/"
printf '[Startup]\r\nWaitInstallation=Y\r\n' > "$demo/Setup.INI"
echo "running: setup.exe /debuglog (waits for its temporary copy)"
out=$(timeout 120 xvfb-run -a wine "$win/runexit.exe" "$(winepath -w "$demo/setup.exe")" /s /debuglog)
echo "$out"
echo "debug log ($demo/Brackenwright.log):"
iconv -f UTF-16LE -t UTF-8 "$demo/Brackenwright.log" 2>/dev/null | sed 's/^\xEF\xBB\xBF//' || echo "(no log)"
# The temporary copy's folder (named in the clone's command line above).
temp=$(iconv -f UTF-16LE -t UTF-8 "$demo/Brackenwright.log" 2>/dev/null | grep -o '/tempdisk1folder"[^"]*"' | head -1 | sed 's/^\/tempdisk1folder"//; s/"$//')
if [ -n "$temp" ]; then
  echo "temporary copy's folder $temp:"
  ls -l "$(winepath -u "$temp")" 2>/dev/null | sed 's/^/  /' || echo "  (already removed)"
fi

# The demo product: built with wixl from tests/data/demo, packed into a setup and
# installed silently through the launcher. On once the setup driver's chain runs
# the installer action (QZ_DEMO_INSTALL=1 forces it, =0 turns it off).
install_demo=${QZ_DEMO_INSTALL:-auto}
if [ "$install_demo" = auto ]; then
  install_demo=0
  grep -rl --include='*.cpp' 'run_msi_action(' "$root/Src" | grep -qv '/msiaction[^/]*\.cpp$' && install_demo=1
fi
if [ "$install_demo" = 1 ]; then
  product=$demo/product
  rm -rf "$product"; mkdir -p "$product/media"
  "$root/tests/data/demo/build-demo.sh" "$product/msi"
  printf '[Startup]\r\nPackageName=demo.msi\r\nProductCode={6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}\r\nWaitInstallation=Y\r\n[demo.msi]\r\nType=1\r\n' > "$product/setup.ini"
  cp "$product/setup.ini" "$product/media/Setup.INI"
  "$root/build/native/mksetup" pack -l "$win/setup.exe" -o "$product/media/setup.exe" "$product/setup.ini" "$product/msi/demo.msi"
  echo "packed $product/media/setup.exe:"
  "$root/build/native/mksetup" list "$product/media/setup.exe" | sed 's/^/  /'
  echo 'running: setup.exe /s /v"/qn" (installs the demo product)'
  setup_win=$(winepath -w "$product/media/setup.exe")
  # The exact command line goes through the environment: wine would re-quote /v"/qn".
  QZ_RUNEXIT_CMDLINE="\"$setup_win\" /s /v\"/qn\"" timeout 300 xvfb-run -a wine "$win/runexit.exe" || true
  echo "installed files:"
  ls -l "$prefix/drive_c/Program Files/Brackenwright Demo" 2>/dev/null | sed 's/^/  /' || echo "  (none)"
  echo "registry:"
  wine reg query 'HKLM\Software\Brackenwright\Demo' 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/  /' || echo "  (none)"
  echo 'running: setup.exe /s /x /v"/qn" (removes it again)'
  QZ_RUNEXIT_CMDLINE="\"$setup_win\" /s /x /v\"/qn\"" timeout 300 xvfb-run -a wine "$win/runexit.exe" || true
  [ -e "$prefix/drive_c/Program Files/Brackenwright Demo/readme.txt" ] && echo "  still installed" || echo "  removed"
else
  echo "(demo product install: waits until the setup driver runs the installer action; QZ_DEMO_INSTALL=1 forces it)"
fi
