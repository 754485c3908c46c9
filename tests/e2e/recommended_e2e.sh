#!/usr/bin/env bash
# End to end over real sockets: velmora-service on a temporary simulated Mac takes the agent's
# upload ("Upload Cursor Speed Cmd"), and the recommended-settings ranking that velmora-ctl asks
# for the same device, through the window's request and answer check, lists it. A service that
# is down gives the connection message with NSURLErrorDomain and -1004; a server that answers
# garbage gives "Data from the server is wrong."; one whose total holds terminal escapes and a
# line break has it shown escaped, and proxy variables are not used for this machine.
# Arguments: the velmora-ctl program (velmora-sim, velmora-manager and velmora-service beside it).
set -u
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
bin=$(cd "$(dirname "$1")" && pwd)
. "$E2E_SUPPORT/service_world.sh" "the garbage server"

exec dbus-run-session -- bash -s "$bin" "$work" <<'INNER'
set -u
bin=$1 work=$2
fail=0
. "$E2E_SUPPORT/wait.sh"

"$bin/velmora-service" --world "$VELMORA_WORLD" --listen 127.0.0.1:0 2>"$work/service.err" &
service=$!
wait_for 10 test -s "$VELMORA_WORLD/service/url" || { echo "FAIL no service address"; cat "$work/service.err"; exit 1; }

"$bin/velmora-manager" --quiet >"$work/agent.out" 2>"$work/agent.err" &
agent=$!
"$bin/velmora-sim" attach magic-mouse-2-bluetooth >/dev/null || { echo "FAIL attach"; exit 1; }
"$bin/velmora-ctl" favourite set --device 4c-269-0-Bluetooth --favourite 2 --sensitivity 800 --tracking 3 \
  --select --create --notify >/dev/null || { echo "FAIL favourite set"; exit 1; }
# The agent has reloaded the store once it has written the new favourite (resolution 800) to the
# mouse; only then does its upload carry it.
applied() { "$bin/velmora-sim" writes | grep 'HIDPointerResolution' | grep -qw 52428800; }
wait_for 15 applied || { echo "FAIL the agent never applied the new favourite"; cat "$work/agent.err"; exit 1; }

listed() {
  "$bin/velmora-ctl" recommended --device 4c-269-0-Bluetooth --json >"$work/rank.json" 2>"$work/rank.err" &&
    grep -q '"status":"listed"' "$work/rank.json"
}
"$bin/velmora-ctl" agent send upload --receiver quillon.Velmora.boa >/dev/null || { echo "FAIL agent upload"; fail=1; }
if wait_for 10 listed; then
  # Shown as the window shows it: sensitivity 2000 - 800, tracking 3, the only entry, rated 5.
  grep -q '"entries":\[{"rank":1,"tracking":3,"sensitivity":1200,"rating":5}\]' "$work/rank.json" ||
    { echo "FAIL ranking: $(cat "$work/rank.json")"; fail=1; }
  grep -q '"total":"1"' "$work/rank.json" || { echo "FAIL total: $(cat "$work/rank.json")"; fail=1; }
else
  echo "FAIL the agent's upload never reached the ranking"; cat "$work/rank.json" "$work/rank.err" "$work/agent.err"; fail=1
fi
grep -q "GET /velmora/xml/setting.php" "$work/service.err" || { echo "FAIL no upload in the service's log"; fail=1; }

kill -TERM $agent; wait $agent
kill -TERM $service; wait $service

# The service is down: the address file is gone, so ask where it was.
port_free=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
out=$(VELMORA_SERVICE_URL="http://127.0.0.1:$port_free" "$bin/velmora-ctl" recommended --search 76 617 0 b)
status=$?
case "$out" in *"Failed to connect the server. Click the Recommend button to try again. (NSURLErrorDomain,-1004)"*) ;;
  *) echo "FAIL down service: $out"; fail=1 ;; esac
[ "$status" = 1 ] || { echo "FAIL down service exit status $status"; fail=1; }

# A server that answers garbage at the ranking's path.
mkdir -p "$work/garbage/velmora/xml"
printf '<html><body>It works!</body></html>\n' >"$work/garbage/velmora/xml/setting_rank.php"
python3 -m http.server --bind 127.0.0.1 --directory "$work/garbage" 0 >"$work/garbage.out" 2>&1 &
wait_for 10 grep -q "Serving HTTP" "$work/garbage.out" || { echo "FAIL garbage server"; cat "$work/garbage.out"; exit 1; }
gport=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/garbage.out" | head -1)
out=$(VELMORA_SERVICE_URL="http://127.0.0.1:$gport" "$bin/velmora-ctl" recommended --search 76 617 0 b)
status=$?
case "$out" in *"Data from the server is wrong."*) ;; *) echo "FAIL garbage answer: $out"; fail=1 ;; esac
[ "$status" = 1 ] || { echo "FAIL garbage exit status $status"; fail=1; }

# A hostile answer: a total with a terminal escape and a forged line is shown escaped. A proxy
# in the environment (a port nobody listens on) is not used for this machine's service.
mkdir -p "$work/hostile/velmora/xml"
printf '%s' '<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array><dict><key>Acc</key><real>1</real><key>Sen</key><real>900</real><key>Qty</key><integer>3</integer><key>Tot</key><string>3&#27;[31m
rank 1 forged</string></dict></array></plist>' >"$work/hostile/velmora/xml/setting_rank.php"
python3 -m http.server --bind 127.0.0.1 --directory "$work/hostile" 0 >"$work/hostile.out" 2>&1 &
wait_for 10 grep -q "Serving HTTP" "$work/hostile.out" || { echo "FAIL hostile server"; cat "$work/hostile.out"; exit 1; }
hport=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/hostile.out" | head -1)
out=$(VELMORA_SERVICE_URL="http://127.0.0.1:$hport" http_proxy="http://127.0.0.1:$port_free" \
  all_proxy="http://127.0.0.1:$port_free" "$bin/velmora-ctl" recommended --search 76 617 0 b)
status=$?
[ "$status" = 0 ] || { echo "FAIL hostile answer through the proxy variables: exit $status: $out"; fail=1; }
case "$out" in *$'\e'*) echo "FAIL a raw escape reached the terminal"; fail=1 ;; esac
printf '%s\n' "$out" | grep -q '^rank 1 forged' && { echo "FAIL a forged line: $out"; fail=1; }
printf '%s\n' "$out" | grep -qF 'total: 3\x1b[31m\nrank 1 forged' || { echo "FAIL total not shown escaped: $out"; fail=1; }

[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || echo "e2e: 0 passed, 1 failed"
exit $fail
INNER
