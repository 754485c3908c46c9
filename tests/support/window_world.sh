# Sourced by the settings window's end-to-end tests, after bin and work are set: the world's
# agent as the window started it (its process id from the world's agent record) and the checks on
# it. `stop_world_agent` ends it (SIGTERM: it restores the devices first).
agent_pid() {
  /usr/bin/python3 - "$VELMORA_WORLD/agent.plist" <<'PY' 2>/dev/null
import plistlib, sys
print(plistlib.load(open(sys.argv[1], "rb"))["pid"])
PY
}
agent_running() { local pid; pid=$(agent_pid) && [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; }
agent_registered() { [ -f "$VELMORA_WORLD/Library/LaunchAgents/quillon.Velmora.boa.plist" ]; }
stop_world_agent() {
  local pid; pid=$(agent_pid) || return 0
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
}
