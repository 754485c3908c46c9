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
# The scenario's last line and exit status; on failure, the window's and the agent's last words.
window_result() {
  if [ "$fail" = 0 ]; then
    echo "e2e: 1 passed, 0 failed"
  else
    echo "e2e: 0 passed, 1 failed"; tail -20 "$work/settings.err"
    echo "--- agent:"; tail -20 "$VELMORA_WORLD/launchd/quillon.Velmora.boa.log"
  fi
  exit "$fail"
}
