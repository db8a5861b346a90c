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
# The settings come from the package itself (init); its one language needs a string
# table, and an empty one keeps the launcher's own texts. verify reads the setup as
# the launcher will before it is run.
mksetup=$root/build/native/mksetup
"$mksetup" init "$product/msi/demo.msi" -o "$product/setup.ini" --force
: > "$product/0x0409.ini"
"$mksetup" pack -l "$win/setup.exe" -o "$product/media/setup.exe" "$product/setup.ini" "$product/msi/demo.msi" "$product/0x0409.ini"
"$mksetup" verify "$product/media/setup.exe"
echo "packed $product/media/setup.exe:"
"$mksetup" list "$product/media/setup.exe" | sed 's/^/  /'
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
