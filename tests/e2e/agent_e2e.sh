#!/usr/bin/env bash
# End to end: velmora-manager on a temporary simulated Mac under a private session bus.
# A mouse is attached and gets its favourite within the expected time; a changed favourite is
# applied on "Cursor Speed Cmd"; a second agent refuses to start; SIGTERM restores the mouse.
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
last_value() {  # last_value SERVICE KEY: the raw value last written
  "$bin/velmora-sim" writes | awk -v s="$1" -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == s && $(i + 1) == k) v = $(i + 3) } END { print v }'
}
has_value() { [ "$(last_value "$1" "$2")" = "$3" ]; }

"$bin/velmora-manager" --quiet >"$work/agent.out" 2>"$work/agent.err" &
agent=$!
# The agent has started once the default machine's devices got their speeds.
wait_for 10 has_value 0x100004005 HIDPointerResolution 26214400 || { echo "FAIL agent did not apply at start"; cat "$work/agent.err"; exit 1; }

t0=$(now_ms)
id=$("$bin/velmora-sim" attach magic-mouse-2-bluetooth) || { echo "FAIL attach"; exit 1; }
service=$(printf '0x%X' $(( id + 2 )))
if wait_for 6 has_value "$service" HIDPointerResolution 26214400; then
  elapsed=$(( $(now_ms) - t0 ))
  # 0.8 s standby + 1.0 s for a new device + 0.5 s apply delay.
  if [ "$elapsed" -lt 2200 ]; then echo "FAIL applied too early: ${elapsed} ms"; fail=1; fi
  echo "new mouse applied after ${elapsed} ms"
else
  echo "FAIL the new mouse got no speed"; fail=1
fi

"$bin/velmora-ctl" favourite set --device 4c-269-0-Bluetooth --favourite 2 --sensitivity 1200 --tracking 3 \
  --select --create --notify >/dev/null || { echo "FAIL favourite set"; fail=1; }
wait_for 3 has_value "$service" HIDPointerResolution 78643200 || { echo "FAIL Cursor Speed Cmd not applied"; fail=1; }
has_value "$service" HIDMouseAcceleration 196608 || { echo "FAIL tracking speed not applied"; fail=1; }

"$bin/velmora-manager" --quiet >/dev/null 2>"$work/second.err"
status=$?
if [ "$status" = 0 ] || ! grep -q "100.0757" "$work/second.err"; then
  echo "FAIL a second agent started (status $status)"; cat "$work/second.err"; fail=1
fi
kill -0 $agent 2>/dev/null || { echo "FAIL the first agent died with the second"; fail=1; }

kill -TERM $agent
wait $agent
status=$?
[ "$status" = 0 ] || { echo "FAIL agent exit status $status"; fail=1; }
has_value "$service" HIDPointerResolution 85196800 || { echo "FAIL the mouse was not restored to 1300"; fail=1; }
[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || echo "e2e: 0 passed, 1 failed"
exit $fail
INNER
