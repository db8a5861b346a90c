#!/bin/sh
# Builds into OUT the web demo: web.msi (x64, one file payload.bin of SIZE bytes,
# default 3 MiB) and its external cabinet data1.cab, stored uncompressed so that a
# transfer can be cut in the middle of it; payload.bin stays beside them for the
# comparison with what was installed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$1
size=${2:-3145728}
mkdir -p "$out"
cd "$out"
python3 -c "import random,sys; random.seed(7); sys.stdout.buffer.write(random.randbytes($size))" > payload.bin
cp "$here/web.wxs" web.wxs
wixl -a x64 -o web.msi web.wxs
rm web.wxs
# The cabinet member is named by the file's key in the File table.
mkdir -p cab && cp payload.bin cab/PayloadFile
(cd cab && gcab -c ../data1.cab PayloadFile)
rm -r cab
msiinfo suminfo web.msi | sed -n 's/^Revision number (UUID): //p' | tr -d '\r\n' > web.code
