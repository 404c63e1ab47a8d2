#!/usr/bin/env bash
# The main job on embedded defaults: installs what is needed, builds, makes the kit (the
# installation tree of the build) and installs a cluster from it into run/ with the kit's
# console installer (`setup INSTALLCLUSTER ...`: program files, Administrator and Log
# databases, twmain.ini); then runs the road once: a direct transfer between two text-file
# links, taken by twmain, run by taskrun, logged, shut down. A run/ left by an earlier run is
# removed first with its own `setup REMOVECLUSTER DELETEFILES=YES`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# What apt-get and the compiler print goes to one log; the console gets a line for each.
mkdir -p build
log="$root/build/main.log"
: >"$log"
step() {
  local what=$1
  shift
  local start=$SECONDS
  if ! "$@" >>"$log" 2>&1; then
    echo "$what failed; the last lines of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
  echo "$what: done in $((SECONDS - start)) s (full output in $log)"
}
step "Packages" bash scripts/deps.sh
step "Build" bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
kit="$root/build/kit/"
rm -rf "$kit"
cmake --install build --prefix "$kit" >/dev/null
inst="$root/run/"
# The installer keeps the databases under the installation's own data root.
unset PLEXA_ROOT
if [ -x "$inst/setup" ] && [ -f "$inst/twmain.ini" ]; then
  echo "--- removing the cluster of an earlier run"
  "$inst/setup" REMOVECLUSTER DELETEFILES=YES | tail -n 1 || true
fi
rm -rf "$inst"
server=$(hostname)
admin=qtwadm.odx
log=qtwlog.odx
echo "--- setup INSTALLCLUSTER"
"$kit/setup" INSTALLCLUSTER "DIRECTORY=$inst" "TARNWAY=$server" ADMINSERVER= \
  "ADMINDATABASE=$admin" "ADMINLOGDATABASE=$log"
echo "Installed into $inst:"
ls "$inst"
echo "--- twmain.ini"
cat "$inst/twmain.ini"

if [ ! -f "$inst/flatrec.twx" ]; then
  echo "flatrec.twx (the text-file connector) is not in $inst: the sample transfer cannot run." >&2
  exit 1
fi

export PLEXA_ROOT="$inst/ordex"
adm() { "$kit/plexadm" "$@"; }
samples="$root/samples"
out="${inst%/}/people.out"

echo "--- configuration"
# This server looks for due work every 2 seconds rather than the installed minute.
member=$(adm search "$admin" "select Name = '$server'" --form 'Configuration\Server' | cut -f1)
adm put "$admin" "$member" PollInterval number 2 >/dev/null
adm put "$admin" "$member" MaxDuration number 60 >/dev/null
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
echo "Links and activity defined in the Administrator ($log logs); CopyPeople is due now."

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
