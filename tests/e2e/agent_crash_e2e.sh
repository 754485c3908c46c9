#!/usr/bin/env bash
# End to end: a killed agent's successor gives the devices their own speed back. A mouse gets a
# favourite, the agent is killed with SIGKILL, the next agent on the same world gives the mouse
# its native speed back at once and again when it quits (SIGTERM); a third one quits on SIGHUP,
# as at the end of a session, and restores the mouse as well.
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
values() {  # values SERVICE KEY [FROM]: the raw values written, one a line, from history line FROM on
  "$bin/velmora-sim" writes | tail -n +"${3:-1}" |
    awk -v s="$1" -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == s && $(i + 1) == k) print $(i + 3) }'
}
has_value() { [ "$(values "$1" "$2" | tail -n 1)" = "$3" ]; }
wrote_since() { values "$1" "$2" "$3" | grep -qx "$4"; }  # wrote_since SERVICE KEY FROM VALUE
history_end() { echo $(( $("$bin/velmora-sim" writes | wc -l) + 1 )); }
start_agent() {
  "$bin/velmora-manager" >"$work/agent$1.out" 2>"$work/agent$1.err" &
  agent=$!
}
restore_file="$work/world/agent/restore-values.plist"
native=85196800     # the Magic Mouse's own resolution, 1300
favourite=78643200  # 1200

start_agent 1
id=$("$bin/velmora-sim" attach magic-mouse-2-bluetooth) || { echo "FAIL attach"; exit 1; }
service=$(printf '0x%X' $(( id + 2 )))
wait_for 10 has_value "$service" HIDPointerResolution 26214400 || { echo "FAIL the mouse got no speed"; exit 1; }
"$bin/velmora-ctl" favourite set --device 4c-269-0-Bluetooth --favourite 2 --sensitivity 1200 --tracking 3 \
  --select --create --notify >/dev/null || { echo "FAIL favourite set"; exit 1; }
wait_for 5 has_value "$service" HIDPointerResolution "$favourite" || { echo "FAIL favourite not applied"; exit 1; }
[ -s "$restore_file" ] || { echo "FAIL no saved speeds while devices carry favourites"; fail=1; }

kill -KILL $agent
wait $agent 2>/dev/null
has_value "$service" HIDPointerResolution "$favourite" || { echo "FAIL the killed agent restored something"; fail=1; }

# The next run: the mouse gets 1300 back as soon as it is announced, then its favourite again.
from=$(history_end)
start_agent 2
wait_for 10 wrote_since "$service" HIDPointerResolution "$from" "$native" ||
  { echo "FAIL the next run did not give the mouse its own speed back"; cat "$work/agent2.out"; fail=1; }
wait_for 5 wrote_since "$service" HIDPointerResolution "$from" "$favourite" ||
  { echo "FAIL the next run did not apply the favourite"; fail=1; }
wait_for 2 has_value "$service" HIDPointerResolution "$favourite"
kill -TERM $agent
wait $agent
status=$?
[ "$status" = 0 ] || { echo "FAIL agent exit status $status after SIGTERM"; cat "$work/agent2.err"; fail=1; }
has_value "$service" HIDPointerResolution "$native" ||
  { echo "FAIL after a crash the mouse ended at $(values "$service" HIDPointerResolution | tail -n 1), not 1300"; fail=1; }
[ -e "$restore_file" ] && { echo "FAIL saved speeds left after a clean quit"; fail=1; }

# A hang-up ends the agent like a quit request: every device back at the system speed.
from=$(history_end)
start_agent 3
wait_for 10 wrote_since "$service" HIDPointerResolution "$from" "$favourite" ||
  { echo "FAIL the third run did not apply the favourite"; fail=1; }
kill -HUP $agent
wait $agent
status=$?
[ "$status" = 0 ] || { echo "FAIL agent exit status $status after SIGHUP"; cat "$work/agent3.err"; fail=1; }
has_value "$service" HIDPointerResolution "$native" || { echo "FAIL SIGHUP did not restore the mouse"; fail=1; }
grep -q "Hangup: quitting" "$work/agent3.out" || { echo "FAIL no quit on SIGHUP in the agent's output"; fail=1; }

[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || echo "e2e: 0 passed, 1 failed"
exit $fail
INNER
