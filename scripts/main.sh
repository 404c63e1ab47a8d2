#!/usr/bin/env bash
# The main job on embedded defaults: installs what is needed, builds, makes the kit (the
# installation tree of the build) and installs a cluster from it into run/ with the kit's
# console installer (`setup INSTALLCLUSTER ...`: program files, Administrator and Log
# databases, twmain.ini); then runs the road once: a direct transfer between two text-file
# links and a replication that levels a SQLite table (through ODBC) with an Ordex form, taken
# by twmain, run by taskrun, logged, shut down. A run/ left by an earlier run is removed first
# with its own `setup REMOVECLUSTER DELETEFILES=YES`.
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

# A pair of tables levelled: a SQLite database reached through ODBC (sqlcli.twx) and an
# Ordex database (ordex.twx), both under run/. Row 2 differs on the two sides: the rule
# (WinConflict 1, link A wins) decides it, and the conflict is logged. Without stamp fields
# a row on one side only would be decided by the rule as well: both sides hold rows 1 and 3.
lite="${inst%/}/stock.db"
odbc_driver=""
for d in /usr/lib/x86_64-linux-gnu/odbc /usr/lib/aarch64-linux-gnu/odbc /usr/lib/odbc; do
  [ -f "$d/libsqlite3odbc.so" ] && odbc_driver="$d/libsqlite3odbc.so" && break
done
if [ -z "$odbc_driver" ]; then
  echo "The SQLite ODBC driver (libsqlite3odbc.so) is not installed." >&2
  exit 1
fi
printf '[SQLITE3]\nDriver=%s\n' "$odbc_driver" >"$inst/odbcinst.ini"
printf '[stock]\nDriver=SQLITE3\nDatabase=%s\n' "$lite" >"$inst/odbc.ini"
sqlite3 "$lite" "CREATE TABLE stock (Code INTEGER PRIMARY KEY, Item VARCHAR(40), Qty INTEGER);
  INSERT INTO stock VALUES (1, 'Café crème', 12), (2, 'Grüner Tee', 40), (3, 'Honig', 8);"
cat >"$inst/shelf.json" <<'JSON'
{"title": "Shelf", "forms": [{"name": "Stock", "fields": [
  {"name": "Code", "type": "number"}, {"name": "Item", "type": "text"},
  {"name": "Qty", "type": "number"}]}]}
JSON
adm build-template "$inst/shelf.json" "$inst/shelf.otm" >/dev/null
adm create shelf.odx --template "$inst/shelf.otm" >/dev/null
adm new shelf.odx Stock Code:number=1 'Item=Café crème' Qty:number=12 >/dev/null
adm new shelf.odx Stock Code:number=2 'Item=Grüner Tee' Qty:number=35 >/dev/null
adm new shelf.odx Stock Code:number=3 'Item=Honig' Qty:number=8 >/dev/null
adm new "$admin" 'Link\Sqlcli' Name=StockLite Server=stock >/dev/null
adm new "$admin" 'Link\Ordex' Name=StockShelf Database=shelf.odx \
  PropNameList:textlist=Database PropTokenList:numberlist=65538 >/dev/null
adm new "$admin" 'Activity\Replication' Name=LevelStock SrcLink=StockLite DestLink=StockShelf \
  OneTime:number=1 LinkAMetadata=stock LinkBMetadata=Stock LinkAOrderList:textlist=Code \
  LinkBOrderList:textlist=Code WinConflict:number=1 LogConflict:number=1 >/dev/null
sides() {
  echo "SQLite (link A, $lite):"
  sqlite3 -separator ' | ' "$lite" 'SELECT Code, Item, Qty FROM stock ORDER BY Code' | sed 's/^/  /'
  echo "Ordex (link B, shelf.odx):"
  adm export shelf.odx --form Stock | while IFS= read -r doc; do
    for name in Code Item Qty; do
      { printf '%s' "$doc" | grep -o "\"name\":\"$name\",\"type\":\"[a-z]*\",\"value\":[^,}]*" || true; } |
        sed 's/.*"value"://; s/^"//; s/"$//; s/\.0$//' | tr '\n' ' '
      [ "$name" = Qty ] || printf '| '
    done
    echo
  done | sort -n | sed 's/^/  /; s/ *$//'
}
echo "--- both sides before LevelStock"
sides
echo "Links and activities defined in the Administrator ($log logs); CopyPeople and LevelStock are due now."

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
(cd "$inst" && PATH="$inst:$PATH" ODBCSYSINI="$inst" ODBCINI="$inst/odbc.ini" \
  exec ./twmain <"$work/console" >"$work/twmain.out" 2>"$work/twmain.err") &
twmain_pid=$!
exec 3>"$work/console"

finished() { [ "$(adm export "$log" --form Activity 2>/dev/null | grep -c 'Activity finished')" -ge 2 ]; }
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
echo "--- both sides after LevelStock"
sides

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
  echo "The activities' runs were not logged in time." >&2
  cat "$work/twmain.err" >&2
  exit 1
fi
if [ "$rc" != 0 ]; then
  echo "twmain ended with exit code $rc." >&2
  cat "$work/twmain.err" >&2
  exit 1
fi
echo "The road ran end to end."
