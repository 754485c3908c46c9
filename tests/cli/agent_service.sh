#!/bin/bash
# velmora-ctl agent install|start|stop|status|uninstall on a temporary simulated Mac: the real
# agent registered from a bundle whose path holds quotes and a newline, started on the world and
# listed among its applications, registered twice with one agent left, stopped, started, removed;
# a LaunchAgents folder of another user repaired through the simulated administrator prompt; and
# the refusals of bad arguments.
# $1: the velmora-ctl program, $2: the tests/data folder.
set -u
ctl="$1"
data="$2"
# The shipped device profiles.
profiles="$data/../../resources/devices"
bin="$(dirname "$ctl")"
tmp="$(mktemp -d)"
world="$tmp/world"
trap '"$ctl" agent uninstall --world "$world" >/dev/null 2>&1; rm -rf "$tmp"' EXIT
. "$(dirname "$0")/../support/check.sh"
. "$(dirname "$0")/../support/wait.sh"

"$bin/velmora-sim" --world "$world" init --fixtures "$profiles" >/dev/null || { echo "FAIL: no world"; exit 1; }
bundle="$tmp/it's \"odd\"; \$(x)
dir/Velmora Manager.app"
mkdir -p "$bundle/Contents/MacOS"
ln -s "$bin/velmora-manager" "$bundle/Contents/MacOS/Velmora Manager"
cat > "$bundle/Contents/Info.plist" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>quillon.Velmora.boa</string>
<key>CFBundleExecutable</key><string>Velmora Manager</string></dict></plist>
XML

agent() { "$ctl" agent "$@" --world "$world" >"$tmp/out" 2>"$tmp/err"; }
# json EXPRESSION: a Python expression on the last command's JSON output (as j).
json() { python3 -c "import json,sys; j=json.load(open('$tmp/out')); sys.exit(0 if ($1) else 1)"; }
status_pid() { agent status --json && python3 -c "import json; print(json.load(open('$tmp/out'))['pid'] or '')"; }
alive() { kill -0 "$1" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null; }
listed() {  # listed PID: the world's running applications hold the agent with this process id
  python3 - "$world/applications.plist" "$1" <<'PY'
import plistlib, sys
apps = plistlib.load(open(sys.argv[1], 'rb'))['Running']
sys.exit(0 if any(a['BundleIdentifier'] == 'quillon.Velmora.boa' and a['ProcessIdentifier'] == int(sys.argv[2]) for a in apps) else 1)
PY
}

agent status --json
check "status before install" json "not j['registered'] and not j['loaded'] and not j['running'] and j['pid'] is None"

agent install --bundle "$bundle"
check "install exits 0" test $? -eq 0
agent status --json
check "installed: registered, loaded and running" json "j['registered'] and j['loaded'] and j['running'] and j['pid'] > 0"
pid1="$(python3 -c "import json; print(json.load(open('$tmp/out'))['pid'])")"
check "the agent runs from the bundle, its path one argument" \
  python3 -c "import sys; a=open('/proc/$pid1/cmdline','rb').read().split(b'\0'); sys.exit(0 if a[0] == sys.argv[1].encode() and a[1:3] == [b'--world', sys.argv[2].encode()] else 1)" \
  "$bundle/Contents/MacOS/Velmora Manager" "$world"
check "no shell ran a piece of the path" test ! -e "$tmp/x"
check "the agent lists itself among the world's applications" wait_for 10 listed "$pid1"
check "the agent's output is in the world" wait_for 10 grep -q "Velmora Manager .* on $world" "$world/launchd/quillon.Velmora.boa.log"
agent status
check "status text says running with the pid" grep -q "^running: *yes, pid $pid1$" "$tmp/out"

agent install --bundle "$bundle"
check "installing again exits 0" test $? -eq 0
pid2="$(status_pid)"
check "a new agent runs" test -n "$pid2" -a "$pid2" != "$pid1"
check "the first agent was stopped" wait_for 10 bash -c "! kill -0 $pid1 2>/dev/null"
check "one property list" test "$(ls "$world/Library/LaunchAgents" | wc -l)" -eq 1

agent stop
check "stop exits 0" test $? -eq 0
check "the stopped agent is gone" wait_for 10 bash -c "! kill -0 $pid2 2>/dev/null"
agent status --json
check "stopped: loaded, not running" json "j['registered'] and j['loaded'] and not j['running']"
check "a quitting agent leaves the world's applications" bash -c "! python3 -c \"import plistlib,sys; sys.exit(0 if any(a['BundleIdentifier']=='quillon.Velmora.boa' for a in plistlib.load(open('$world/applications.plist','rb'))['Running']) else 1)\""
agent start
check "start exits 0" test $? -eq 0
pid3="$(status_pid)"
check "started again" test -n "$pid3"

agent uninstall --bundle "$bundle"
check "uninstall exits 0" test $? -eq 0
check "the uninstalled agent is gone" wait_for 10 bash -c "! kill -0 $pid3 2>/dev/null"
agent status --json
check "uninstalled: nothing left" json "not j['registered'] and not j['loaded'] and not j['running']"
agent start
check "starting what is not installed fails with 1" test $? -eq 1

# A LaunchAgents folder owned by another user, and the administrator's answers.
set_state() {  # set_state KEY VALUE (a Python literal) in the simulated service manager
  python3 - "$world/launchd/state.plist" "$1" "$2" <<'PY'
import plistlib, sys, os
p = sys.argv[1]
s = plistlib.load(open(p, 'rb')) if os.path.exists(p) else {}
s[sys.argv[2]] = eval(sys.argv[3])
plistlib.dump(s, open(p, 'wb'))
PY
}
set_state FolderOwner 4242
set_state AdminAnswer "'cancel'"
agent install --bundle "$bundle"
check "a refused folder and a cancelled prompt fail the install with 1" test $? -eq 1
check "the refusal is the platform's 513" grep -q "NSCocoaErrorDomain 513" "$tmp/err"
check "nothing was registered" test ! -e "$world/Library/LaunchAgents/quillon.Velmora.boa.plist"
set_state AdminAnswer "'accept'"
agent install --bundle "$bundle"
check "with the administrator's consent the second registration succeeds" test $? -eq 0
check "the prompt said why" python3 -c "import plistlib,sys; p=plistlib.load(open('$world/launchd/state.plist','rb'))['Prompts']; sys.exit(0 if p[-1]['Message'] == 'velmora-ctl is going to execute this command for Velmora to save a login item.' else 1)"
agent uninstall --bundle "$bundle"

# Refusals and help.
agent instal
check "an unknown subcommand exits 2" test $? -eq 2
check "with the nearest choice" grep -q "did you mean 'install'" "$tmp/err"
agent status --jsn
check "an unknown option exits 2" test $? -eq 2
check "with the nearest option" grep -q "did you mean '--json'" "$tmp/err"
agent start --json
check "an option the subcommand does not use exits 2" test $? -eq 2
agent status --systemd
check "two service managers at once exit 2" test $? -eq 2
"$ctl" agent status --world "$tmp/none" >/dev/null 2>"$tmp/err"
check "no simulated Mac: 1" test $? -eq 1
check "says how to make one" grep -q "velmora-sim init" "$tmp/err"
"$ctl" agent install --help >"$tmp/out"
check "--help exits 0" test $? -eq 0
check "--help names every subcommand" grep -q "install.*\[--bundle PATH\]" "$tmp/out"

[ "$fails" -eq 0 ] || { echo "$fails check(s) failed"; exit 1; }
echo "all checks passed"
