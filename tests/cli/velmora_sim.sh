#!/usr/bin/env bash
# velmora-sim on a temporary world: init, attach, show, session and speed changes, detach,
# the write history, and the errors and exit statuses.
set -u
sim="$(dirname "$1")/velmora-sim"
data="$2"
# The shipped device profiles.
profiles="$data/../../resources/devices"
[ -x "$sim" ] || { echo "FAIL velmora-sim not found beside $1"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
world="$tmp/world"
fail=0
check() {  # check NAME EXPECTED-STATUS -- ARGS...
  local name="$1" want="$2"
  shift 3
  "$sim" --world "$world" "$@" >"$tmp/out" 2>"$tmp/err"
  local status=$?
  if [ "$status" != "$want" ]; then
    echo "FAIL $name: status $status (want $want): $(cat "$tmp/err")"
    fail=1
  fi
  if [ "$want" != 0 ] && [ "$(wc -l <"$tmp/err")" != 1 ] && [ "$want" != 2 ]; then
    echo "FAIL $name: the error is not one line: $(cat "$tmp/err")"
    fail=1
  fi
}
# json EXPRESSION: evaluates a Python expression on the JSON of the last command (as j).
json() {
  python3 -c "import json,sys; j=json.load(open('$tmp/out')); sys.exit(0 if ($1) else 1)" ||
    { echo "FAIL json: $1"; fail=1; }
}

check no-world-yet 1 -- show
grep -q "no world in $world" "$tmp/err" || { echo "FAIL no-world message: $(cat "$tmp/err")"; fail=1; }
check init 0 -- init --fixtures "$profiles"
[ "$(wc -l <"$tmp/out")" = 5 ] || { echo "FAIL init output: $(cat "$tmp/out")"; fail=1; }
check init-again 1 -- init
grep -q -- "--force" "$tmp/err" || { echo "FAIL init-again hint: $(cat "$tmp/err")"; fail=1; }

check show 0 -- show --json
json "[d['profile'] for d in j['devices']] == ['mac-platform-macbookpro12-1', 'macbook-pro-internal-trackpad', 'logitech-unifying-receiver', 'generic-usb-optical-mouse']"
json "[d['idHex'] for d in j['devices']] == ['0x100001000', '0x100002000', '0x100003000', '0x100004000']"
json "j['session'] == {'onConsole': True, 'screenLocked': False}"
json "[s['vid'] for d in j['devices'] for s in d['services']] == [0x05AC, 0x046D, 0x093A]"
json "all(s['resolution'] == 400 for d in j['devices'] for s in d['services'])"

check attach 0 -- attach magic-mouse-2-bluetooth
[ "$(cat "$tmp/out")" = 0x100005000 ] || { echo "FAIL attach id: $(cat "$tmp/out")"; fail=1; }
check attach-path 0 -- attach "$profiles/wacom-intuos-tablet.plist"
[ "$(cat "$tmp/out")" = 0x100006000 ] || { echo "FAIL attach-path id: $(cat "$tmp/out")"; fail=1; }
check attach-unknown 2 -- attach no-such-device
grep -q "velmora-sim profiles" "$tmp/err" || { echo "FAIL attach-unknown hint: $(cat "$tmp/err")"; fail=1; }
check attach-typo 2 -- attach magic-mouse-2-bluetoth
grep -q "did you mean 'magic-mouse-2-bluetooth'" "$tmp/err" || { echo "FAIL attach-typo hint: $(cat "$tmp/err")"; fail=1; }
check attach-missing 2 -- attach

check lock 0 -- lock
check logout 0 -- logout
check accel 0 -- set-system-accel HIDMouseAcceleration 0.6875
check display 0 -- display-change
check show-changed 0 -- show --json
json "j['session'] == {'onConsole': False, 'screenLocked': True}"
json "j['systemAcceleration']['HIDMouseAcceleration'] == 0.6875 and j['systemAcceleration']['HIDTrackpadAcceleration'] == 0.6875 and j['displayChanges'] == 1"
json "j['devices'][4]['profile'] == 'magic-mouse-2-bluetooth' and j['devices'][4]['services'][0]['resolution'] == 1300"
check unlock 0 -- unlock
check login 0 -- login
check show-back 0 -- show
grep -q "on console, screen unlocked" "$tmp/out" || { echo "FAIL text show: $(cat "$tmp/out")"; fail=1; }

check detach 0 -- detach 0x100005000
check detach-again 1 -- detach 0x100005000
check detach-bad-id 2 -- detach mouse
check show-detached 0 -- show --json
json "'magic-mouse-2-bluetooth' not in [d['profile'] for d in j['devices']]"

check accel-not-a-number 2 -- set-system-accel HIDMouseAcceleration fast
check accel-missing 2 -- set-system-accel HIDMouseAcceleration
check writes-empty 0 -- writes --json
json "j == []"
check writes-since 0 -- writes --since 60
check writes-bad-since 2 -- writes --since soon
check profiles 0 -- profiles --fixtures "$profiles"
grep -q "^magic-trackpad-2-usb " "$tmp/out" || { echo "FAIL profiles: $(cat "$tmp/out")"; fail=1; }
check unknown-command 2 -- frobnicate
check unknown-option 2 -- --frobnicate
check world-without-value 2 -- show --world

for c in init attach detach lock unlock logout login set-system-accel display-change show writes profiles; do
  check "help-$c" 0 -- "$c" --help
  grep -q "^usage: velmora-sim $c" "$tmp/out" || { echo "FAIL help of $c: $(head -1 "$tmp/out")"; fail=1; }
done
check tool-help 0 -- --help

# The environment names the world when --world does not.
VELMORA_WORLD="$world" "$sim" show --json >"$tmp/out" 2>/dev/null || { echo "FAIL VELMORA_WORLD"; fail=1; }
json "j['world'] == '$world'"

# A damaged world file is reported in one line, not a crash.
printf 'not a plist <' >"$world/system.plist"
check damaged 1 -- show
grep -q "system.plist" "$tmp/err" || { echo "FAIL damaged message: $(cat "$tmp/err")"; fail=1; }
check force-init 0 -- init --force
check show-fresh 0 -- show --json
json "[d['idHex'] for d in j['devices']] == ['0x100007000', '0x100008000', '0x100009000', '0x10000A000']"
exit $fail
