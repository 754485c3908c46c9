#!/usr/bin/env bash
# End to end: two simulated Macs of one user, each with its own Velmora Manager at the same
# time. Each applies to its own devices; a second agent on the first world is refused in one
# plain line naming the holder's pid and the lock file, with exit status 1 and no word of
# restoring; quitting each agent restores its own world only.
# Arguments: the velmora-ctl program (velmora-sim and velmora-manager lie beside it).
set -u
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
. "$E2E_SUPPORT/e2e_world.sh"
e2e_world "$1"
for w in a b; do
  "$bin/velmora-sim" --world "$work/$w" init >/dev/null || { echo "FAIL init $w"; exit 1; }
done
exec dbus-run-session -- bash -s "$bin" "$work" <<'INNER'
set -u
bin=$1 work=$2
fail=0
. "$E2E_SUPPORT/wait.sh"
last_value() {  # last_value WORLD SERVICE KEY
  "$bin/velmora-sim" --world "$1" writes | awk -v s="$2" -v k="$3" '{ for (i = 1; i < NF; i++) if ($i == s && $(i + 1) == k) v = $(i + 3) } END { print v }'
}
has_value() { [ "$(last_value "$1" "$2" "$3")" = "$4" ]; }
writer_count() { "$bin/velmora-sim" --world "$1" writes | grep -c "Velmora Manager"; }

# A different favourite on world b's mouse shows that each agent writes its own world.
"$bin/velmora-manager" --world "$work/a" >"$work/a.out" 2>"$work/a.err" &
agent_a=$!
"$bin/velmora-manager" --world "$work/b" >"$work/b.out" 2>"$work/b.err" &
agent_b=$!
for w in a b; do
  wait_for 10 has_value "$work/$w" 0x100004005 HIDPointerResolution 26214400 ||
    { echo "FAIL the agent of world $w did not apply at start"; cat "$work/$w.err"; fail=1; }
done
kill -0 $agent_a 2>/dev/null && kill -0 $agent_b 2>/dev/null || { echo "FAIL an agent of the two ended"; cat "$work"/*.err; exit 1; }

# A second agent on world a: refused, plainly, without touching anything.
before=$(writer_count "$work/a")
"$bin/velmora-manager" --world "$work/a" >"$work/second.out" 2>"$work/second.err"
status=$?
[ "$status" = 1 ] || { echo "FAIL the second agent ended with $status, not 1"; fail=1; }
first=$(head -1 "$work/second.err")
case "$first" in
  *"already running (pid $agent_a)"*"$work/a/agent.lock"*) ;;
  *) echo "FAIL the refusal's first line: $first"; fail=1 ;;
esac
grep -q "100.0757" "$work/second.err" || { echo "FAIL the alert with the error number is missing"; fail=1; }
if grep -qi "system speed\|restored" "$work/second.out" "$work/second.err"; then
  echo "FAIL the refused agent claims to have restored devices"; cat "$work/second.out" "$work/second.err"; fail=1
fi
[ "$(writer_count "$work/a")" = "$before" ] || { echo "FAIL the refused agent wrote to a device"; fail=1; }
kill -0 $agent_a 2>/dev/null || { echo "FAIL the first agent died with the second"; fail=1; }

# Each world records its own agent's bus; both are this session's bus here.
for w in a b; do
  grep -q "<string>$DBUS_SESSION_BUS_ADDRESS" "$work/$w/agent.plist" 2>/dev/null ||
    { echo "FAIL world $w does not record its agent's bus"; fail=1; }
done

# Quitting a restores a's mouse; b's agent keeps running and b's mouse keeps its speed.
"$bin/velmora-sim" --world "$work/b" set-system-accel HIDMouseAcceleration 1.5 >/dev/null
wait_for 5 grep -q "applied favourite 1 to 93a-2510-0-USB (system speed changed)" "$work/b.out" ||
  { echo "FAIL world b's agent did not re-apply after its system speed changed"; cat "$work/b.out"; fail=1; }
kill -TERM $agent_a; wait $agent_a
[ $? = 0 ] || { echo "FAIL agent a exit status"; fail=1; }
has_value "$work/a" 0x100004005 HIDMouseAcceleration 57344 || { echo "FAIL world a's mouse was not restored"; fail=1; }
kill -0 $agent_b 2>/dev/null || { echo "FAIL agent b ended with agent a"; fail=1; }
grep -q "system speed changed" "$work/a.out" && { echo "FAIL world b's change reached agent a"; fail=1; }
has_value "$work/b" 0x100004005 HIDMouseAcceleration 45056 || { echo "FAIL world b's mouse changed when a quit"; fail=1; }
kill -TERM $agent_b; wait $agent_b
has_value "$work/b" 0x100004005 HIDMouseAcceleration 98304 || { echo "FAIL world b's mouse was not restored to 1.5"; fail=1; }
[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || echo "e2e: 0 passed, 1 failed"
exit $fail
INNER
