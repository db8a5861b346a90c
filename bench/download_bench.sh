#!/bin/bash
# Download benchmark (not a test): a file of MIB MiB (default 512) served by nginx
# on 127.0.0.1, fetched through the download manager (CDownload over WinINet, under
# Wine, progress display on) and by curl in the same run, both into the same
# folder. Prints
#   download ratio=<ours/curl throughput> ours=<MB/s> curl=<MB/s>
# Each figure is the best of RUNS runs (default 2).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${MIB:-512}
runs=${RUNS:-2}
command -v nginx >/dev/null || { echo "nginx is missing (Debian package nginx)" >&2; exit 1; }
cmake --build "$root/build/win" -j2 --target qzlauncher_setup runexit >/dev/null
work="$root/build/bench-download"
rm -rf "$work"; mkdir -p "$work/www" "$work/out" "$work/nginx"
export WINEPREFIX=${WINEPREFIX:-$root/build/win/wineprefix} WINEDEBUG=-all
"$root/scripts/wine-prefix.sh" start "$WINEPREFIX"
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  "$root/scripts/wine-prefix.sh" stop "$WINEPREFIX"
}
trap cleanup EXIT

driver=$work/download_driver.exe
x86_64-w64-mingw32-g++ -std=c++20 -O2 -municode -static -s -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX \
  -D_WIN32_WINNT=0x0601 -I"$root" -I"$root/Src/Runtime/MSI/Shared/Setup" -o "$driver" "$root/bench/download_driver.cpp" \
  "$root/build/win/libqzlauncher_setup.a" -lz -lshlwapi -lshell32 -lole32 -loleaut32 -luuid -ladvapi32 -luser32 \
  -lgdi32 -lcomdlg32 -lversion

head -c $((mib * 1048576)) /dev/urandom > "$work/www/big.bin"
bytes=$(stat -c %s "$work/www/big.bin")
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx; proxy_temp_path $work/nginx; fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx; scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
timeout 1800 nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
for _ in $(seq 100); do curl -sf -o /dev/null -r 0-0 "http://127.0.0.1:$port/big.bin" && break; sleep 0.1; done
url="http://127.0.0.1:$port/big.bin"
mbps() { python3 -c "print(f'{$1/1e6/$2:.1f}')"; }

best_ours=0; best_curl=0
for _ in $(seq "$runs"); do
  rm -f "$work/out/"*
  line=$(wine "$driver" "$url" "$(winepath -w "$work/out/ours.bin")" | tr -d '\r')
  case "$line" in *ok=1*) ;; *) echo "download failed: $line" >&2; exit 1 ;; esac
  s=${line#*seconds=}; s=${s%% *}
  got=${line#bytes=}; got=${got%% *}
  [ "$got" = "$bytes" ] || { echo "short download: $line" >&2; exit 1; }
  o=$(mbps "$bytes" "$s")
  rm -f "$work/out/"*
  s=$(curl -s -o "$work/out/curl.bin" -w '%{time_total}' "$url")
  c=$(mbps "$bytes" "$s")
  best_ours=$(python3 -c "print(max($best_ours, $o))")
  best_curl=$(python3 -c "print(max($best_curl, $c))")
done
rm -rf "$work/out" "$work/www"
echo "download ratio=$(python3 -c "print(f'{$best_ours/$best_curl:.2f}')") ours=$best_ours curl=$best_curl"
