#!/usr/bin/env bash
# End to end: the agent runs on the default simulated Mac under a private session bus (as
# scripts/run starts it when the user has none); a "second terminal" without that bus in its
# environment (unset, pointing nowhere, or another live bus) and without VELMORA_* variables
# drives it with the README's commands, the programs put on PATH as the README says.
# Arguments: the velmora-ctl program (velmora-sim and velmora-manager lie beside it).
set -u
export E2E_SUPPORT="$(cd "$(dirname "$0")/../support" && pwd)"
bin=$(cd "$(dirname "$1")" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/run" && chmod 700 "$work/run"
# One user: the same home and runtime folder in both terminals, nothing else set.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME XDG_CONFIG_HOME VELMORA_WORLD DBUS_SESSION_BUS_ADDRESS
"$bin/velmora-sim" init >/dev/null || { echo "FAIL velmora-sim init"; exit 1; }

# Without --world or VELMORA_WORLD the agent would take the real machine: name the simulated one.
dbus-run-session -- "$bin/velmora-manager" --system world >"$work/agent.out" 2>"$work/agent.err" &
runner=$!

# The second terminal: PATH as the README says, and whatever its own bus is.
second() { env -u DBUS_SESSION_BUS_ADDRESS PATH="$bin:$PATH" "$@"; }
second_nowhere() { env DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus-here" PATH="$bin:$PATH" "$@"; }
second_other_bus() { dbus-run-session -- env PATH="$bin:$PATH" "$@"; }

fail=0
. "$E2E_SUPPORT/wait.sh"
last_value() {  # last_value SERVICE KEY
  second velmora-sim writes | awk -v s="$1" -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == s && $(i + 1) == k) v = $(i + 3) } END { print v }'
}
has_value() { [ "$(last_value "$1" "$2")" = "$3" ]; }

wait_for 10 has_value 0x100004005 HIDPointerResolution 26214400 ||
  { echo "FAIL the agent did not apply at start"; cat "$work/agent.err"; exit 1; }

id=$(second velmora-sim attach magic-mouse-2-bluetooth) || { echo "FAIL attach"; exit 1; }
mouse=$(printf '0x%X' $(( id + 2 )))
wait_for 6 has_value "$mouse" HIDPointerResolution 26214400 || { echo "FAIL the attached mouse got no speed"; fail=1; }

# favourite set --notify with a bus variable that leads nowhere.
second_nowhere velmora-ctl favourite set --device 4c-269-0-Bluetooth --favourite 2 --sensitivity 1200 --tracking 3 \
  --select --create --notify >"$work/out" 2>&1 || { echo "FAIL favourite set: $(cat "$work/out")"; fail=1; }
wait_for 3 has_value "$mouse" HIDPointerResolution 78643200 || { echo "FAIL favourite set --notify did not reach the agent"; fail=1; }

# agent send from a terminal with a live session bus of its own, where no agent listens.
second velmora-ctl favourite set --device 4c-269-0-Bluetooth --favourite 3 --sensitivity 700 --select >/dev/null ||
  { echo "FAIL favourite set without --notify"; fail=1; }
second_other_bus velmora-ctl agent send cursor-speed --device "VID 0x004C PID 0x0269 MID - Bluetooth" >"$work/out" 2>&1 ||
  { echo "FAIL agent send: $(cat "$work/out")"; fail=1; }
wait_for 3 has_value "$mouse" HIDPointerResolution 45875200 || { echo "FAIL agent send did not reach the agent"; fail=1; }
grep -q 'command from quillon.Velmora.prefpane: "Cursor Speed Cmd"' "$work/agent.out" ||
  { echo "FAIL the log does not say whose command it was"; fail=1; }
grep -q "applied favourite 3 to 4c-269-0-Bluetooth (command from quillon.Velmora.prefpane)" "$work/agent.out" ||
  { echo "FAIL the log does not say why favourite 3 was applied"; fail=1; }

# The store the agent read is the one store show finds by itself.
second velmora-ctl store show --json >"$work/store.json" 2>&1 || { echo "FAIL store show: $(cat "$work/store.json")"; fail=1; }
python3 -c "import json,sys; d=json.load(open('$work/store.json'))['devices']; sys.exit(0 if [x['selectedFavourite'] for x in d if x['index'] == '4c-269-0-Bluetooth'] == [3] else 1)" ||
  { echo "FAIL store show without --store"; fail=1; }

# Lock, unlock and detach are logged by name or event.
second velmora-sim lock && second velmora-sim unlock
second velmora-sim detach "$id"
wait_for 3 grep -q "4c-269-0-Bluetooth detached" "$work/agent.out" || { echo "FAIL detach not logged by name"; fail=1; }
for line in "screen locked" "screen unlocked: applying now" "(unlock)"; do
  grep -qF "$line" "$work/agent.out" || { echo "FAIL the log lacks '$line'"; fail=1; }
done

# The agent's pid is in its lock file in the world.
agent=$(cat "$HOME/.local/share/velmora/world/agent.lock")
kill -TERM "$agent"; wait $runner
has_value 0x100004005 HIDPointerResolution 26214400 || { echo "FAIL the USB mouse was not restored"; fail=1; }
grep -q "stopped; every device is back at the system speed" "$work/agent.out" || { echo "FAIL no stop line"; fail=1; }
[ $fail = 0 ] && echo "e2e: 1 passed, 0 failed" || { echo "e2e: 0 passed, 1 failed"; cat "$work/agent.out" "$work/agent.err"; }
exit $fail
