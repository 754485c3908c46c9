# Sourced by the settings window's end-to-end tests, after bin is set: the world's agent as the
# window started it, seen through `velmora-ctl agent status --json`, and its end
# (`stop_world_agent`: the agent restores the devices first).
agent_field() {  # agent_field KEY: a field of the agent's status
  "$bin/velmora-ctl" agent status --json 2>/dev/null |
    /usr/bin/python3 -c 'import json,sys; v=json.load(sys.stdin).get(sys.argv[1]); print("" if v is None else str(v).lower())' "$1"
}
agent_pid() { agent_field pid; }
agent_running() { [ "$(agent_field running)" = true ]; }
agent_registered() { [ "$(agent_field registered)" = true ]; }
stop_world_agent() { agent_running && "$bin/velmora-ctl" agent stop >/dev/null 2>&1; return 0; }
