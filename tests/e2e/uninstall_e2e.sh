#!/usr/bin/env bash
# End to end, without a display: install the pane into a temporary simulated Mac, start the
# agent from it, save settings, then `velmora-ctl uninstall` leaves the world and the user's
# folders as they were before the install, apart from the speeds the agent wrote to the devices
# and the world's own bookkeeping. A dry run first lists the same things and changes nothing; a
# planted link in the settings folder takes nothing of its target with it.
# Arguments: the velmora-ctl program (the other programs and the build lie beside it).
set -u
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: no session bus and no dbus-run-session to make one"; exit 77; }
  exec dbus-run-session -- bash "$0" "$@"
fi
here="$(cd "$(dirname "$0")" && pwd)"
export E2E_SUPPORT="$(cd "$here/../support" && pwd)"
. "$E2E_SUPPORT/check.sh"
. "$E2E_SUPPORT/wait.sh"
bin=$(cd "$(dirname "$1")" && pwd)
build=$(cd "$bin/.." && pwd)
. "$E2E_SUPPORT/window_world.sh"
work=$(mktemp -d)
trap 'stop_world_agent; kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
export VELMORA_WORLD="$work/world"
unset VELMORA_PANE_DIR
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$bin/velmora-sim" init >/dev/null

# What the world and the user's folders hold, without what only records the world's running
# (devices' speeds, the write history, the launch manager's and the desktop's state, locks).
snapshot() {
  (cd "$work" && find world data config home \( -type f -o -type l \) 2>/dev/null |
    grep -Ev '^world/(properties\.plist|history/|launchd/|applications\.plist|input\.plist|cursor\.plist|desktop[^/]*|world\.lock|agent\.(lock|plist)|.*\.lock$)' |
    LC_ALL=C sort)
}
snapshot >"$work/before.txt"

cmake --install "$build" --component pane >"$work/install.out" 2>&1
check "cmake --install into the world" [ -d "$VELMORA_WORLD/Library/PreferencePanes/Velmora.prefPane" ]
"$bin/velmora-ctl" agent install >"$work/agent.out" 2>&1
check "the agent is registered and started" wait_for 20 agent_running
"$bin/velmora-ctl" favourite set --device 93a-2510-0-USB --favourite 2 --sensitivity 1200 --tracking 3 --select --create \
  >/dev/null 2>&1
store="$XDG_DATA_HOME/Drovana & Velmora/Device.dvsetting"
check "the store was saved" [ -f "$store" ]
mkdir -p "$work/precious" && echo keep >"$work/precious/thesis.txt"
ln -s "$work/precious" "$XDG_DATA_HOME/Drovana & Velmora/planted"

# The dry run lists and leaves everything in place.
"$bin/velmora-ctl" uninstall --dry-run --json >"$work/dry.json"
check "dry run succeeds" [ $? = 0 ]
kinds=$(/usr/bin/python3 -c 'import json,sys; print(" ".join(sorted({i["kind"] for i in json.load(open(sys.argv[1]))["items"]})))' "$work/dry.json")
check "dry run lists the pane, the settings folder and the launch agent" \
  [ "$kinds" = "agent defaults domain launch agent login item pane settings folder" ]
check "dry run removes nothing" [ -f "$store" ]
check "the agent still runs after the dry run" agent_running

"$bin/velmora-ctl" uninstall </dev/null >/dev/null 2>&1
check "without a terminal or --yes it refuses (usage)" [ $? = 2 ]
"$bin/velmora-ctl" uninstall --yes >"$work/uninstall.out" 2>&1
status=$?
check "uninstall succeeds" [ $status = 0 ]
[ $status = 0 ] || cat "$work/uninstall.out"
check "the agent has stopped" wait_for 10 bash -c '! "$0/velmora-ctl" agent status --json | grep -q "\"running\":true"' "$bin"
check "the agent is no longer registered" [ "$(agent_field registered)" = false ]
check "the pane is gone" [ ! -e "$VELMORA_WORLD/Library/PreferencePanes/Velmora.prefPane" ]
check "the settings folder is gone" [ ! -e "$XDG_DATA_HOME/Drovana & Velmora" ]
check "the planted link's target stays" [ -f "$work/precious/thesis.txt" ]
rm -rf "$work/precious"
snapshot >"$work/after.txt"
check "the world and the folders are as before the install" diff -u "$work/before.txt" "$work/after.txt"

[ $fails = 0 ] && echo "e2e: uninstall passed" || echo "e2e: uninstall: $fails failed"
exit $fails
