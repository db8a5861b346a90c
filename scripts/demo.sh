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
