#!/bin/sh
# Builds the demo packages with wixl into OUT: demo.msi (x64, 1.0.0), demo2.msi
# (x64, 2.0.0, same product), demo32.msi (x86), corrupt.msi (not a database),
# props.msi (records QZPROP, QZCMD, AFTERREBOOT, SETUPEXEDIR and the secret QZSECRET
# and DBPASSWORD in the registry), reboot.msi (the same product asking for a restart),
# prq.msi (a prerequisite package recording PRQPROP, able to hold its installation), and text files with each
# package's package code. Given the user-exit custom-action library as a second argument,
# also cancel.msi (an installation that ends as cancelled by the user, 1602).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
cd "$here"
pc='{6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}'
wixl -a x64 -D Version=1.0.0 -D ProductCode="$pc" -o "$out/demo.msi" demo.wxs
wixl -a x64 -D Version=2.0.0 -D ProductCode="$pc" -o "$out/demo2.msi" demo.wxs
wixl -a x86 -D Version=1.0.0 -D ProductCode="$pc" -o "$out/demo32.msi" demo.wxs
wixl -a x64 -D Reboot=no -o "$out/props.msi" props.wxs
wixl -a x64 -D Reboot=yes -o "$out/reboot.msi" props.wxs
wixl -a x64 -o "$out/prq.msi" prq.wxs
# wixl writes no action texts: the one of the hold, shown by an installer progress display.
msibuild "$out/prq.msi" -i ActionText.idt
if [ $# -ge 2 ]; then
  # wixl takes a source file by a relative name only.
  cp "$2" "$out/userexit_action.dll"
  (cd "$out" && wixl -a x64 -D UserExitDll=userexit_action.dll -o cancel.msi "$here/cancel.wxs")
fi
printf 'This is not a Windows Installer database.\n' > "$out/corrupt.msi"
for p in demo demo2 demo32 props reboot; do
  msiinfo suminfo "$out/$p.msi" | sed -n 's/^Revision number (UUID): //p' | tr -d '\r\n' > "$out/$p.code"
done
# features.msi: a product with the features Core, Docs and Help (Docs off by default).
wixl -a x64 -o "$out/features.msi" features.wxs
msiinfo suminfo "$out/features.msi" | sed -n 's/^Revision number (UUID): //p' | tr -d '\r\n' > "$out/features.code"
