#!/usr/bin/env bash
# End to end: an agent told to quit at once after a crashed run. A mouse and a second mouse get
# favourites, the agent is killed with SIGKILL, the second mouse is unplugged, and the next
# agent is stopped with SIGTERM as soon as it runs, before its standby time has announced any
# device. It must give the mouse that is here its own speed back, keep the unplugged one's entry
# for a later run, and not claim that every device is back; the run after that, with the second
# mouse plugged in again, finishes the job and says so.
# Arguments: the velmora-ctl program (velmora-sim and velmora-manager lie beside it).
set -u
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
. "$E2E_SUPPORT/e2e_world.sh"
e2e_world "$1" world
exec dbus-run-session -- bash -s "$bin" "$work" <<'INNER'
set -u
bin=$1 work=$2
fail=0
. "$E2E_SUPPORT/wait.sh"
values() {  # values SERVICE KEY: the raw values written, one a line
  "$bin/velmora-sim" writes |
    awk -v s="$1" -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == s && $(i + 1) == k) print $(i + 3) }'
}
has_value() { [ "$(values "$1" "$2" | tail -n 1)" = "$3" ]; }
start_agent() {
  "$bin/velmora-manager" >"$work/agent$1.out" 2>"$work/agent$1.err" &
  agent=$!
}
stop_at_once() {  # SIGTERM as soon as the agent runs (its signal handling is then in place)
  wait_for 10 grep -q "running; watching pointing devices" "$work/agent$1.out" ||
    { echo "FAIL agent $1 did not start"; cat "$work/agent$1.err"; fail=1; }
  kill -TERM $agent
  wait $agent
  status=$?
  [ "$status" = 0 ] || { echo "FAIL agent $1 exit status $status after SIGTERM"; cat "$work/agent$1.err"; fail=1; }
}
restore_file="$work/world/agent/restore-values.plist"
native=85196800     # the Magic Mouse's own resolution, 1300
favourite=78643200  # 1200

start_agent 1
id=$("$bin/velmora-sim" attach magic-mouse-2-bluetooth) || { echo "FAIL attach"; exit 1; }
other=$("$bin/velmora-sim" attach logitech-mx-master-3-bluetooth) || { echo "FAIL attach"; exit 1; }
service=$(printf '0x%X' $(( id + 2 )))
wait_for 10 has_value "$service" HIDPointerResolution 26214400 || { echo "FAIL the mouse got no speed"; exit 1; }
"$bin/velmora-ctl" favourite set --device 4c-269-0-Bluetooth --favourite 2 --sensitivity 1200 --tracking 3 \
  --select --create --notify >/dev/null || { echo "FAIL favourite set"; exit 1; }
wait_for 5 has_value "$service" HIDPointerResolution "$favourite" || { echo "FAIL favourite not applied"; exit 1; }
wait_for 10 grep -q "applied favourite .* to 46d-b023-0-Bluetooth Low Energy" "$work/agent1.out" ||
  { echo "FAIL the second mouse got no favourite"; fail=1; }
kill -KILL $agent
wait $agent 2>/dev/null
"$bin/velmora-sim" detach "$other" >/dev/null || { echo "FAIL detach"; fail=1; }

# Stopped at once: the mouse here gets its own speed back; the unplugged one's entry stays.
start_agent 2
stop_at_once 2
has_value "$service" HIDPointerResolution "$native" ||
  { echo "FAIL the mouse kept $(values "$service" HIDPointerResolution | tail -n 1), not its own 1300"; cat "$work/agent2.out"; fail=1; }
grep -q "every device is back at the system speed" "$work/agent2.out" &&
  { echo "FAIL claimed every device back while one was not reached"; cat "$work/agent2.out"; fail=1; }
grep -q "are not here now and keep their entry" "$work/agent2.out" ||
  { echo "FAIL did not say what it kept"; cat "$work/agent2.out"; fail=1; }
grep -q "46d-b023-0-Bluetooth Low Energy" "$restore_file" 2>/dev/null ||
  { echo "FAIL the unplugged mouse's entry was not kept for a later run"; fail=1; }
grep -q "4c-269-0-Bluetooth" "$restore_file" 2>/dev/null &&
  { echo "FAIL the restored mouse's entry was kept"; fail=1; }

# The second mouse is back: the next run, stopped at once as well, finishes and says so.
"$bin/velmora-sim" attach logitech-mx-master-3-bluetooth >/dev/null || { echo "FAIL attach"; fail=1; }
start_agent 3
stop_at_once 3
grep -q "stopped; every device is back at the system speed" "$work/agent3.out" ||
  { echo "FAIL the last run did not finish the job"; cat "$work/agent3.out"; fail=1; }
[ -e "$restore_file" ] && { echo "FAIL saved speeds left after everything was given back"; fail=1; }

[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || echo "e2e: 0 passed, 1 failed"
exit $fail
INNER
