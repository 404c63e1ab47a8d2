#!/usr/bin/env bash
# The main job on embedded defaults: installs what is needed, builds, and lays out a
# local installation directory (run/) with its twmain.ini.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
inst="$root/run/"
cmake --install build --prefix "$inst" >/dev/null
[ -f "$inst/twmain.ini" ] || printf '[Configuration]\r\nVersion=23\r\nKitType=2\r\nTarnway=%s\r\nAdminServer=\r\nAdminDatabase=qtwadm.odx\r\nDirectory=%s\r\nSNMP=0\r\nDiagnostics=0\r\n' "$(hostname)" "$inst" > "$inst/twmain.ini"
echo "Installed into $inst:"
ls "$inst"
echo "--- twmain.ini"
cat "$inst/twmain.ini"
