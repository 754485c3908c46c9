#!/bin/bash
# Concurrent `favourite set` runs take turns on the store: each waits for the writer before it
# instead of refusing, and nothing one of them saved is lost. A writer that holds the store
# longer than the wait is still refused with the message.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
tmp="$(mktemp -d)"
holder=""
trap '[ -n "$holder" ] && kill "$holder" 2>/dev/null; rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"

store="$tmp/Device.dvsetting"
"$ctl" favourite set --store "$store" --device 93a-2510-0-USB --favourite 1 --sensitivity 500 --create >/dev/null
check "the store is made" test $? -eq 0

# 24 writers at once: 12 new devices, and 12 favourites of one device (two of each of its
# five favourites, the last writer's value wins), all started together.
pids=()
for i in $(seq 1 12); do
  "$ctl" favourite set --store "$store" --device "$(printf '%x' $((0x100 + i)))-1-0-USB" --favourite 2 \
    --sensitivity $((500 + i)) --create >/dev/null 2>"$tmp/err.d$i" &
  pids+=($!)
  "$ctl" favourite set --store "$store" --device 93a-2510-0-USB --favourite $(( (i - 1) % 5 + 1 )) \
    --tracking 2 >/dev/null 2>"$tmp/err.f$i" &
  pids+=($!)
done
refused=0
for p in "${pids[@]}"; do wait "$p" || refused=$((refused + 1)); done
check "no concurrent writer is refused ($refused were: $(cat "$tmp"/err.* | sort -u | head -3))" test $refused -eq 0
show="$("$ctl" store show --store "$store" --json)"
for i in $(seq 1 12); do
  check "device $i was kept" grep -q "\"$(printf '%x' $((0x100 + i)))-1-0-USB\"" <<<"$show"
done

# A writer that keeps the store (another program holding its lock) for longer than the wait.
python3 - "$store.lock" <<'PY' &
import fcntl, sys, time
f = open(sys.argv[1], "r+")
fcntl.flock(f, fcntl.LOCK_EX)
open(sys.argv[1] + ".held", "w").close()
time.sleep(30)
PY
holder=$!
for _ in $(seq 1 250); do [ -e "$store.lock.held" ] && break; sleep 0.02; done
start=$(date +%s%N)
"$ctl" favourite set --store "$store" --device 93a-2510-0-USB --favourite 1 --sensitivity 600 2>"$tmp/err"
status=$?
waited=$(( ($(date +%s%N) - start) / 1000000 ))
check "a store held too long is refused (status $status)" test $status -eq 1
check "the refusal says why" grep -q "another program" "$tmp/err"
check "it waited for the other writer first (${waited} ms)" test $waited -ge 1000

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
