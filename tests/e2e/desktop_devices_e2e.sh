#!/usr/bin/env bash
# On an emulated machine (umockdev) with one USB mouse, a keyboard and a joystick: velmora-ctl
# lists the mouse under its store name with its udev path and writer, and velmora-manager on the
# desktop says which system it runs on first, attaches the mouse and says once that no speed
# writer sets its speed (there is no system bus for velmora-inputd), then restores at the end.
# Exit 77 where umockdev cannot run.
set -uo pipefail
ctl="$1"
bin="$(dirname "$ctl")"
data="$(cd "$(dirname "$0")/../data/udev" && pwd)"
command -v umockdev-run >/dev/null || { echo "SKIP: umockdev-run is not installed"; exit 77; }
command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset VELMORA_WORLD
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
machine=(umockdev-run -d "$data/usb-mouse.umockdev" -d "$data/keyboard-and-joystick.umockdev" --)

"${machine[@]}" "$ctl" devices --json >"$tmp/devices.json" 2>"$tmp/devices.err" || fail "devices exit $?"
python3 - "$tmp/devices.json" <<'PY' || fail "devices --json: $(cat "$tmp/devices.json")"
import json, sys
j = json.load(open(sys.argv[1]))
assert j["system"] == "desktop", j
assert [d["device"] for d in j["devices"]] == ["93a-2510-0-USB"], j
d = j["devices"][0]
assert d["path"].endswith("/event5") and d["writer"] == "none" and d["slot"] == 0 and d["supported"], d
PY
"${machine[@]}" "$ctl" devices >"$tmp/devices.txt" 2>&1
grep -q "^  device     93a-2510-0-USB" "$tmp/devices.txt" || fail "devices text: $(cat "$tmp/devices.txt")"
grep -q "^system: desktop" "$tmp/devices.txt" || fail "devices text names no system"

"${machine[@]}" "$bin/velmora-manager" --version | grep -q "^system: desktop" || fail "manager --version names no system"
dbus-run-session -- "${machine[@]}" timeout -s INT 4 "$bin/velmora-manager" >"$tmp/agent.log" 2>&1
log=$(cat "$tmp/agent.log")
# The agent's first line of its own (the bus daemon may speak first).
first=$(grep -m1 -E '^[0-9]{2}:[0-9]{2}:[0-9]{2}  ' "$tmp/agent.log")
case "$first" in *"on this machine (system: desktop"*) ;; *) fail "first line: $first" ;; esac
grep -q "93a-2510-0-USB attached" "$tmp/agent.log" || fail "no attach: $log"
[ "$(grep -c "no writer can set pointer speeds in this session" "$tmp/agent.log")" -ge 1 ] || fail "no word on the missing writer: $log"
[ "$(grep -c "cannot set the speed of" "$tmp/agent.log")" -eq 1 ] || fail "the missing writer said more than once: $log"
# With no writer nothing is applied or given back, and the log claims neither.
grep -q "could not apply favourite 1 to 93a-2510-0-USB" "$tmp/agent.log" || fail "the refused write is not told: $log"
! grep -q "applied favourite" "$tmp/agent.log" || fail "a refused write is called applied: $log"
grep -q "stopped; 1 device service(s) did not take the system speed back" "$tmp/agent.log" ||
  fail "no orderly stop, or a false claim of success: $log"
if [ "$fails" -ne 0 ]; then echo "$fails failed"; exit 1; fi
echo "1 passed, 0 failed"
