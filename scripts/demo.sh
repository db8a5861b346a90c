#!/bin/bash
# The main job: builds everything, packs a demo product into a setup executable
# and installs it under Wine, showing what was installed and the exit codes.
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
# The demo product: built with wixl from tests/data/demo, packed with the packing
# tool into a setup and installed silently through the launcher, then removed.
# Output goes to files: Wine's background services keep an inherited pipe open.
product=$demo/product
rm -rf "$product"; mkdir -p "$product/media"
"$root/tests/data/demo/build-demo.sh" "$product/msi"
# The settings name the package's own package code and version, as the upgrade
# check and the removal compare them with the installed product's.
printf '[Startup]\r\nPackageName=demo.msi\r\nProductCode={6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}\r\nPackageCode=%s\r\nProductVersion=1.0.0\r\nWaitInstallation=Y\r\n[demo.msi]\r\nType=1\r\n' "$(cat "$product/msi/demo.code")" > "$product/setup.ini"
"$root/build/native/mksetup" pack -l "$win/setup.exe" -o "$product/media/setup.exe" "$product/setup.ini" "$product/msi/demo.msi"
echo "packed $product/media/setup.exe:"
"$root/build/native/mksetup" list "$product/media/setup.exe" | sed 's/^/  /'
echo 'running: setup.exe /s /v"/qn" (installs the demo product)'
setup_win=$(winepath -w "$product/media/setup.exe")
# The exact command line goes through the environment: wine would re-quote /v"/qn".
QZ_RUNEXIT_CMDLINE="\"$setup_win\" /s /v\"/qn\"" timeout 300 xvfb-run -a wine "$win/runexit.exe" </dev/null >"$demo/run.txt" 2>&1 || true
cat "$demo/run.txt"
echo "installed files:"
ls -l "$prefix/drive_c/Program Files/Brackenwright Demo" 2>/dev/null | sed 's/^/  /' || echo "  (none)"
echo "registry:"
wine reg query 'HKLM\Software\Brackenwright\Demo' 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/  /' || echo "  (none)"
echo 'running: setup.exe /s /x /v"/qn" (removes it again)'
QZ_RUNEXIT_CMDLINE="\"$setup_win\" /s /x /v\"/qn\"" timeout 300 xvfb-run -a wine "$win/runexit.exe" </dev/null >"$demo/run.txt" 2>&1 || true
cat "$demo/run.txt"
[ -e "$prefix/drive_c/Program Files/Brackenwright Demo/readme.txt" ] && echo "  still installed" || echo "  removed"
