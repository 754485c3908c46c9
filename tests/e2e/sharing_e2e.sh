#!/usr/bin/env bash
# End to end: the agent shares a device's chosen favourite with velmora-service on a temporary
# simulated Mac. The agent finds the service through the world's address file, uploads on
# "Upload Cursor Speed Cmd" (velmora-ctl agent send upload) over libcurl, and the service's ranking
# shows the setting; the service stores a salted digest as the machine, never the serial number.
# Arguments: the velmora-ctl program (velmora-sim, velmora-manager, velmora-service beside it).
set -u
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
bin=$(cd "$(dirname "$1")" && pwd)
. "$E2E_SUPPORT/service_world.sh" "the test's HTTP client"

exec dbus-run-session -- bash -s "$bin" "$work" <<'INNER'
set -u
bin=$1 work=$2
fail=0
trap 'kill $(jobs -p) 2>/dev/null; wait' EXIT  # the service and the agent end with the test
. "$E2E_SUPPORT/wait.sh"
serial=C02RM4XGFVH5  # the default machine's serial number

"$bin/velmora-service" --world "$VELMORA_WORLD" --listen 127.0.0.1:0 2>"$work/service.err" &
wait_for 10 test -s "$VELMORA_WORLD/service/url" || { echo "FAIL the service wrote no address"; cat "$work/service.err"; exit 1; }
url=$(cat "$VELMORA_WORLD/service/url")

"$bin/velmora-manager" >"$work/agent.out" 2>"$work/agent.err" &
wait_for 10 "$bin/velmora-ctl" agent status >/dev/null 2>&1 || { echo "FAIL the agent did not start"; cat "$work/agent.err"; exit 1; }

"$bin/velmora-sim" attach magic-mouse-2-bluetooth >/dev/null || { echo "FAIL attach"; exit 1; }
"$bin/velmora-ctl" favourite set --device 4c-269-0-Bluetooth --favourite 2 --sensitivity 1200 --tracking 3 \
  --select --create --notify >/dev/null || { echo "FAIL favourite set"; fail=1; }

ranking() {
  python3 - "$url/velmora/xml/setting_rank.php?VID=76&PID=617&MID=0&Tra=Bluetooth&OS0=0&OS1=0&Cnt=20" <<'PY'
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=5) as r:
    print(r.read().decode())
PY
}
shows_upload() {
  "$bin/velmora-ctl" agent send upload >/dev/null 2>&1
  r=$(ranking 2>/dev/null) || return 1
  case "$r" in *"<key>Acc</key>"*"<integer>3</integer>"*"<key>Qty</key>"*"<integer>1</integer>"*"<key>Sen</key>"*"<integer>800</integer>"*|\
               *"<key>Acc</key>"*"<real>3</real>"*|*"<key>Sen</key>"*"800"*) return 0 ;; esac
  return 1
}
wait_for 15 shows_upload || { echo "FAIL the ranking does not show the upload: $(ranking)"; "$bin/velmora-ctl" agent send upload; tail -n 20 "$work/agent.out" "$work/agent.err"; fail=1; }

db="$VELMORA_WORLD/service/service.sqlite"
machines=$(python3 - "$db" <<'PY'
import sqlite3, sys
for (m,) in sqlite3.connect(sys.argv[1]).execute("SELECT machine FROM uploads"):
    print(m)
PY
)
[ -n "$machines" ] || { echo "FAIL no upload stored"; fail=1; }
for m in $machines; do
  [[ "$m" =~ ^[0-9a-f]{64}$ ]] || { echo "FAIL the stored machine is not a digest: $m"; fail=1; }
done
if grep -q -a "$serial" "$db"* "$work/service.err"; then echo "FAIL the serial number reached the service"; fail=1; fi
[ -s "$VELMORA_WORLD/agent/sharing-salt" ] || { echo "FAIL the salt is not kept in the world"; fail=1; }

[ $fail = 0 ] && echo "sharing e2e passed"
exit $fail
INNER
