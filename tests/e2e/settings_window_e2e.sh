#!/usr/bin/env bash
# End to end: the settings window on a temporary simulated Mac, a virtual display and a private
# session bus. The pane is installed into the world with `cmake --install`; velmora-settings finds
# it there, registers and starts the agent; a favourite typed into the window reaches the device
# within a second; the window's Edit > Undo brings the device back; quitting the window leaves the
# agent running. Arguments: the velmora-ctl program (the other programs and the build lie beside it).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
export E2E_SUPPORT="$(cd "$here/../support" && pwd)"
. "$E2E_SUPPORT/e2e_world.sh"
. "$E2E_SUPPORT/xvfb.sh"
. "$E2E_SUPPORT/window_world.sh"
e2e_world "$1" world
# The display and the runtime folder before the bus: the accessibility bus is found through them.
start_xvfb "$work"
cmake --install "$bin/.." --component pane >"$work/install.out" 2>&1 || { echo "FAIL cmake --install"; cat "$work/install.out"; exit 1; }
[ -x "$VELMORA_WORLD/Library/PreferencePanes/Velmora.prefPane/Contents/MacOS/Velmora" ] ||
  { echo "FAIL the pane was not installed into the world"; exit 1; }

dbus-run-session -- bash -s "$bin" "$work" "$here" <<'INNER'
set -u
bin=$1 work=$2 here=$3
fail=0
. "$E2E_SUPPORT/wait.sh"
. "$E2E_SUPPORT/window_world.sh"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$bin/velmora-settings" >"$work/settings.out" 2>"$work/settings.err" &
settings=$!

wait_for 60 agent_registered || { echo "FAIL the window did not register the agent"; cat "$work/settings.err"; exit 1; }
wait_for 30 agent_running || { echo "FAIL the window did not start the agent"; cat "$work/settings.err"; exit 1; }
grep -q "$VELMORA_WORLD/Library/PreferencePanes/Velmora.prefPane" "$VELMORA_WORLD/Library/LaunchAgents/quillon.Velmora.boa.plist" ||
  { echo "FAIL the agent is not the one of the installed pane"; fail=1; }
agent=$(agent_pid)

/usr/bin/python3 "$here/settings_window.py" change-and-undo "$bin" "$VELMORA_WORLD" || fail=1

# The scenario ends with Quit from the window's menu.
if wait_for 20 bash -c "! kill -0 $settings"; then
  wait $settings; status=$?
  [ "$status" = 0 ] || { echo "FAIL velmora-settings ended with status $status"; cat "$work/settings.err"; fail=1; }
else
  echo "FAIL the window did not quit"; fail=1
fi
agent_running && [ "$(agent_pid)" = "$agent" ] || { echo "FAIL the agent did not outlive the window"; fail=1; }
stop_world_agent
window_result
INNER
exit $?
