#!/bin/bash
# velmora-ctl against paths that are not what they claim: FIFOs, oversized files, symbolic-link
# loops, overlong names, folders without permission, a truncated store and a store held busy
# by another program. Every case ends promptly with a plain message and status 1 or 2.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
data="$2"
tmp="$(mktemp -d)"
holder=""
trap '[ -n "$holder" ] && kill "$holder" 2>/dev/null; rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"
# run NAME ARGS...: runs the tool with a time limit; $rc and $err hold the outcome.
run() {
  err="$(timeout 20 "$ctl" "$@" 2>&1 >/dev/null)"
  rc=$?
}

# A FIFO in place of an input file: refused at once, not waited on.
mkfifo "$tmp/fifo"
run plist convert --to xml "$tmp/fifo" "$tmp/out.xml"
check "plist convert of a FIFO exits 1" test "$rc" -eq 1
check "and says it is no regular file" grep -q "not a regular file" <<<"$err"
run exchange show "$tmp/fifo" --type device
check "exchange show of a FIFO is refused" test "$rc" -eq 1
run store show --store "$tmp/fifo"
check "store show of a FIFO exits 1" test "$rc" -eq 1

# A file above the input limit is refused before it is read.
truncate -s 17M "$tmp/big.plist"
run plist convert --to xml "$tmp/big.plist" "$tmp/out.xml"
check "an oversized plist exits 1" test "$rc" -eq 1
check "and names the limit" grep -q "larger than the limit" <<<"$err"

# Symbolic-link loops and overlong names: a message, never an abort (134).
ln -s "$tmp/loop-b" "$tmp/loop-a"
ln -s "$tmp/loop-a" "$tmp/loop-b"
long="$tmp/$(printf 'n%.0s' $(seq 300))"
for p in "$tmp/loop-a" "$tmp/loop-a/Device.dvsetting" "$long"; do
  run snapping list --store "$p"
  check "snapping list --store $p exits 1" test "$rc" -eq 1
  check "and says why ($p)" grep -Eq "symbolic links|name too long" <<<"$err"
  run store show --store "$p"
  check "store show --store $p exits 1" test "$rc" -eq 1
  run definitions match --vid 1 --pid 2 --transport USB --folder "$p"
  check "definitions match --folder $p exits 1 or 2" test "$rc" -eq 1 -o "$rc" -eq 2
  check "and says why ($p, folder)" grep -Eq "symbolic links|name too long" <<<"$err"
  run definitions match --vid 1 --pid 2 --transport USB --user-folder "$p"
  check "definitions match --user-folder $p exits 1 or 2" test "$rc" -eq 1 -o "$rc" -eq 2
done

if [ "$(id -u)" -eq 0 ]; then
  echo "note: permission cases skipped (the superuser is not bound by permissions)"
else
  mkdir -p "$tmp/closed"
  "$ctl" favourite set --device 46d-c52b-0-USB --favourite 1 --store "$tmp/closed/Device.dvsetting" --create >/dev/null 2>&1
  chmod 000 "$tmp/closed"
  run store show --store "$tmp/closed/Device.dvsetting"
  check "a store in a closed folder exits 1" test "$rc" -eq 1
  check "and says permission was denied" grep -q "permission denied" <<<"$err"
  run definitions match --vid 1 --pid 2 --transport USB --folder "$tmp/closed"
  check "a definitions folder without permission exits 1" test "$rc" -eq 1
  check "and says permission was denied (definitions)" grep -q "permission denied" <<<"$err"
  chmod 755 "$tmp/closed"
fi

# A truncated store is called damaged, not shown with records missing.
s="$tmp/s/Device.dvsetting"
mkdir -p "$tmp/s"
for i in $(seq 1 12); do
  "$ctl" favourite set --device "46d-$(printf '%x' "$i")-0-USB" --favourite 1 --store "$s" --create >/dev/null 2>&1
done
run store show --store "$s"
check "the whole store shows" test "$rc" -eq 0
# Cut inside the last page: the file still opens, but rows of that page are lost.
size=$(stat -c %s "$s")
head -c $((size - 2960)) "$s" > "$tmp/cut.dvsetting"
run store show --store "$tmp/cut.dvsetting"
check "a truncated store exits 1" test "$rc" -eq 1
check "and is called damaged" grep -q "damaged" <<<"$err"
check "in one line" test "$(wc -l <<<"$err")" -eq 1
run exchange export --store "$tmp/cut.dvsetting" --all -o "$tmp/cut.out"
check "exporting a truncated store exits 1" test "$rc" -eq 1
check "and writes nothing" test ! -e "$tmp/cut.out"

# Another program holds a write transaction: the save waits a moment, then says the store is busy.
if command -v sqlite3 >/dev/null; then
  # The holder reads its statements from a FIFO; closing it ends the holder and its transaction.
  mkfifo "$tmp/sql"
  sqlite3 "$s" < "$tmp/sql" > /dev/null 2>&1 &
  holder=$!
  exec 8>"$tmp/sql"
  echo "BEGIN IMMEDIATE;" >&8
  for _ in $(seq 100); do
    sqlite3 -cmd ".timeout 0" "$s" "BEGIN IMMEDIATE; ROLLBACK;" >/dev/null 2>&1 || break
    sleep 0.05
  done
  run favourite set --device 46d-1-0-USB --favourite 2 --select --store "$s"
  check "a save blocked by another transaction exits 1" test "$rc" -eq 1
  check "and says the store is busy" grep -q "busy" <<<"$err"
  exec 8>&-
  wait "$holder" 2>/dev/null; holder=""
else
  echo "note: busy case skipped (no sqlite3 program)"
fi

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
