#!/usr/bin/env bash
# The main job on embedded defaults: installs what is needed, builds, and lays out a
# local installation directory (run/) with its twmain.ini; then runs the road once: a direct
# transfer between two text-file links, taken by twmain, run by taskrun, logged, shut down.
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

if [ ! -f "$inst/flatrec.twx" ]; then
  echo "flatrec.twx (the text-file connector) is not in $inst: the sample transfer cannot run." >&2
  exit 1
fi

# The databases live under the installation's data root; every run starts them afresh.
export PLEXA_ROOT="$inst/ordex"
adm() { "$inst/plexadm" "$@"; }
ini() { sed -n "s/^$1=//p" "$inst/twmain.ini" | tr -d '\r' | head -n1; }
server=$(ini Tarnway)
admin=$(ini AdminDatabase)
log=qtwlog.odx
samples="$root/samples"
out="${inst%/}/people.out"
rm -rf "$PLEXA_ROOT" "$out"
mkdir -p "$PLEXA_ROOT"

echo "--- databases"
adm create "$admin" --template "$inst/QTWADM.OTM" --title "Tarnway Administrator"
adm create "$log" --template "$inst/QTWLOG.OTM" --title "Tarnway Log"
adm new "$admin" 'Configuration\Administrator' Name=Administrator LogServer= "LogDatabase=$log" \
  StatusInterval:number=5 >/dev/null
adm new "$admin" 'Configuration\Server' "Name=$server" PollInterval:number=2 \
  StatusInterval:number=5 MaxDuration:number=60 MaxActivities:number=2 CloseTimeout:number=10 \
  >/dev/null
# The links name their file, its field description and their side.
for side in In:people.txt:SOURCE Out:people.out:DESTINATION; do
  IFS=: read -r suffix file kind <<<"$side"
  dir="$samples"; [ "$kind" = SOURCE ] || dir="$inst"
  adm new "$admin" 'Link\Flatrec' "Name=People$suffix" "Database=$dir/$file" \
    "ZID=@$samples/people.zid" "Linktype=$kind" PropNameList:textlist=Database,ZID,Linktype \
    PropTokenList:numberlist=65538,15,16 >/dev/null
done
adm new "$admin" 'Activity\Direct Transfer' Name=CopyPeople SrcLink=PeopleIn DestLink=PeopleOut \
  OneTime:number=1 >/dev/null
echo "Administrator and Log databases created; activity CopyPeople is due now."

# twmain reads its console from a FIFO; it is stopped on every way out of this script.
work=$(mktemp -d)
twmain_pid=""
cleanup() {
  exec 3>&- 2>/dev/null || true
  if [ -n "$twmain_pid" ] && kill -0 "$twmain_pid" 2>/dev/null; then
    kill "$twmain_pid" 2>/dev/null || true
    wait "$twmain_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/console"
echo "--- starting twmain"
(cd "$inst" && PATH="$inst:$PATH" exec ./twmain <"$work/console" >"$work/twmain.out" 2>"$work/twmain.err") &
twmain_pid=$!
exec 3>"$work/console"

finished() { adm export "$log" --form Activity 2>/dev/null | grep -q 'Activity finished'; }
for _ in $(seq 1 120); do
  finished && break
  kill -0 "$twmain_pid" 2>/dev/null || break
  sleep 0.5
done
ran=0
finished && ran=1

echo "--- log entries"
adm export "$log" | grep -o '"Body","type":"richtext","text":"[^"]*"' |
  sed 's/^"Body","type":"richtext","text":"//; s/"$//' | while IFS= read -r body; do
  printf '%b' "$body"
done
echo "--- first records of $out"
[ -f "$out" ] && head -n 5 "$out" && echo || echo "(no output file)"

echo D >&3
exec 3>&-
rc=0
for _ in $(seq 1 60); do
  kill -0 "$twmain_pid" 2>/dev/null || break
  sleep 0.5
done
if kill -0 "$twmain_pid" 2>/dev/null; then
  echo "twmain did not end after shutdown was asked." >&2
  rc=1
else
  wait "$twmain_pid" || rc=$?
  twmain_pid=""
fi
echo "--- twmain console"
cat "$work/twmain.out"
echo
if [ "$ran" != 1 ]; then
  echo "The activity's run was not logged in time." >&2
  cat "$work/twmain.err" >&2
  exit 1
fi
if [ "$rc" != 0 ]; then
  echo "twmain ended with exit code $rc." >&2
  cat "$work/twmain.err" >&2
  exit 1
fi
echo "The road ran end to end."
