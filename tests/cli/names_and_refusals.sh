#!/usr/bin/env bash
# What a person types: devices in any of the three forms the programs have printed, favourites
# 1 to 5 with either spelling, and the refusals (unknown commands with the nearest one,
# unknown agent commands and options they do not use, system keys and ranges, a store in a
# missing folder); and what they read: one device form, the demo's suggestions one per line,
# velmora-sim show --json holding the desktop.
# $1: the velmora-ctl program (velmora-sim beside it), $2: the tests/data folder.
set -u
ctl="$1"
sim="$(dirname "$1")/velmora-sim"
data="$2"
# The shipped device profiles.
profiles="$data/../../resources/devices"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/run" VELMORA_WORLD="$tmp/world"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
fails=0
# expect NAME STATUS PATTERN -- COMMAND...: the status, and PATTERN (grep -E) in stdout+stderr.
expect() {
  local name="$1" want="$2" pattern="$3"
  shift 4
  "$@" >"$tmp/out" 2>&1
  local status=$?
  if [ "$status" != "$want" ]; then
    echo "FAIL $name: status $status (want $want): $(head -5 "$tmp/out")"; fails=$((fails + 1)); return
  fi
  if [ -n "$pattern" ] && ! grep -Eq -- "$pattern" "$tmp/out"; then
    echo "FAIL $name: no '$pattern' in: $(head -5 "$tmp/out")"; fails=$((fails + 1))
  fi
}
json() {  # json NAME EXPRESSION: a Python expression on the JSON in $tmp/out (as j)
  python3 -c "import json,sys; j=json.load(open('$tmp/out')); sys.exit(0 if ($2) else 1)" ||
    { echo "FAIL $1"; fails=$((fails + 1)); }
}

# --- Unknown commands name the nearest known one ----------------------------------------
expect ctl-typo 2 "did you mean 'favourite'" -- "$ctl" favourit set
expect ctl-american 2 "needs a number from 1 to 5" -- "$ctl" favorite set --device 4c-269-0-Bluetooth
expect ctl-subcommand-typo 2 "did you mean 'show'" -- "$ctl" store shwo
expect ctl-far-off 2 "unknown command 'zzzz'" -- "$ctl" zzzz
grep -q "did you mean" "$tmp/out" && { echo "FAIL a suggestion for a word near nothing"; fails=$((fails + 1)); }
expect sim-typo 2 "did you mean 'attach'" -- "$sim" atach magic-mouse-2-bluetooth

# --- agent send: known commands, and only the options they use --------------------------
expect agent-unknown 2 "did you mean 'cursor-speed'" -- "$ctl" agent send cursor-sped
grep -q "cursor-speed, activate, snapping, ax-warning, upload, launched" "$tmp/out" ||
  { echo "FAIL agent-unknown lists the known commands: $(cat "$tmp/out")"; fails=$((fails + 1)); }
expect agent-case 2 "unknown command" -- "$ctl" agent send "cursor speed cmd"
expect agent-unused-option 2 "cursor-speed does not use --sensitivity" -- \
  "$ctl" agent send cursor-speed --device 4c-269-0-Bluetooth --sensitivity 1200
expect agent-unused-device 2 "launched does not use --vid" -- "$ctl" agent send launched --vid 1
expect agent-two-device-forms 2 "either with --device" -- "$ctl" agent send cursor-speed --device 4c-269-0-Bluetooth --vid 1
expect agent-bad-device 2 "is not a device like" -- "$ctl" agent send cursor-speed --device 4c-269
# Accepted ones go out on a bus (a private one here).
expect agent-full-text 0 'posted "Cursor Speed Cmd"' -- \
  dbus-run-session -- "$ctl" agent send "Cursor Speed Cmd" --device "004c:0269:0 Bluetooth"
expect agent-raw 0 'posted "Some Future Cmd"' -- \
  dbus-run-session -- "$ctl" agent send --raw "Some Future Cmd" --sensitivity 5 --application TextEdit
expect agent-no-bus 1 "no agent is running" -- "$ctl" agent send upload

# --- favourite set: three device forms, favourites 1 to 5 --------------------------------
store="$tmp/s.dvsetting"
expect fav-index-form 0 "saved favourite 1 of 4c-269-0-Bluetooth" -- \
  "$ctl" favourite set --store "$store" --device 4c-269-0-Bluetooth --favourite 1 --sensitivity 500 --create
expect fav-colon-form 0 "saved favourite 5 of 4c-269-0-Bluetooth" -- \
  "$ctl" favourite set --store "$store" --device "004c:0269:0 Bluetooth" --favorite 5 --sensitivity 1500 --select
expect fav-labelled-form 0 "saved favourite 3 of 4c-269-0-Bluetooth" -- \
  "$ctl" favourite set --store "$store" --device "VID 0x004C PID 0x0269 MID - Bluetooth" --favourite 3 --tracking 2
expect fav-show 0 "" -- "$ctl" store show --store "$store" --json
json "one device, in the store's form" "[d['index'] for d in j['devices']] == ['4c-269-0-Bluetooth']"
json "favourites numbered 1 to 5 carry the edits" "[(c['favourite'], c['sensitivity'], c['trackingSpeed']) for c in j['devices'][0]['cursorSpeeds']][::2] == [(1, '500', '0.6875'), (3, '600', '2'), (5, '1500', '0.6875')]"
json "favourite 5 is selected" "j['devices'][0]['selectedFavourite'] == 5"
expect fav-show-text 0 "favourite 5 \(.*\): sensitivity 1500 \(window speed 500\).*<- selected" -- \
  "$ctl" store show --store "$store"
grep -q "2000 minus the sensitivity" "$tmp/out" || { echo "FAIL store show explains the two numbers"; fails=$((fails + 1)); }
for n in 0 6 two; do
  expect "fav-out-of-range-$n" 2 "from 1 to 5" -- "$ctl" favourite set --store "$store" --device 4c-269-0-Bluetooth --favourite "$n"
done
expect fav-disagree 2 "disagree" -- "$ctl" favourite set --store "$store" --device 4c-269-0-Bluetooth --favourite 1 --favorite 2
for bad in "4c-269" "0x4c-269-0-USB" "004c:0269 Bluetooth" "VID 0x004C PID 0x0269 Bluetooth" "4c-zz-0-USB"; do
  expect "fav-bad-device '$bad'" 2 "is not a device like" -- "$ctl" favourite set --store "$store" --device "$bad" --favourite 1
done
expect fav-missing-folder 1 "the folder $tmp/nowhere does not exist" -- \
  "$ctl" favourite set --store "$tmp/nowhere/s.dvsetting" --device 4c-269-0-Bluetooth --favourite 1 --create
[ -e "$tmp/nowhere" ] && { echo "FAIL a missing folder was made"; fails=$((fails + 1)); }

# --- velmora-sim: system keys in their ranges, one device form, the desktop in JSON -------
"$sim" init --fixtures "$profiles" >/dev/null || { echo "FAIL init"; exit 1; }
expect accel-ok 0 "" -- "$sim" set-system-accel HIDTrackpadScrollAcceleration 20
expect accel-zero 0 "" -- "$sim" set-system-accel HIDMouseAcceleration 0
expect accel-misspelt 2 "did you mean 'HIDMouseAcceleration'" -- "$sim" set-system-accel HIDMouseAcceleraton 1
expect accel-not-system 2 "The keys are HIDMouseAcceleration" -- "$sim" set-system-accel HIDPointerAcceleration 1
for v in -3 1e9 20.5 nan; do
  expect "accel-range $v" 2 "" -- "$sim" set-system-accel HIDMouseAcceleration "$v"
done
expect accel-kept 0 "" -- "$sim" show --json
json "refused values were not saved" "j['systemAcceleration']['HIDMouseAcceleration'] == 0 and 'HIDMouseAcceleraton' not in j['systemAcceleration']"
json "services name their device" "[s['device'] for d in j['devices'] for s in d['services']] == ['5ac-273-0-USB', '46d-c52b-0-USB', '93a-2510-0-USB']"
expect show-text-device 0 "device 93a-2510-0-USB  location 0x14110000" -- "$sim" show
expect devices-text 0 "device     93a-2510-0-USB" -- "$ctl" devices

"$sim" open-dialog TextEdit --buttons "Don't Save,Cancel,Save" --default Save --cancel Cancel >/dev/null
"$sim" move-cursor 12 34 && "$sim" hold shift && "$sim" trust off >/dev/null 2>&1
expect show-desktop 0 "" -- "$sim" show --json
json "the desktop's application" "[(a['name'], a['bundleIdentifier'], a['frontmost']) for a in j['desktop']['applications']] == [('TextEdit', 'sim.TextEdit', True)]"
json "its window with positions, sizes and attributes" "(lambda w: w['role'] == 'AXWindow' and w['subrole'] == 'AXDialog' and w['links']['AXDefaultButton']['title'] == 'Save' and w['links']['AXCancelButton']['title'] == 'Cancel' and [(c['title'], c['frame']['width'], c['frame']['height'], c['enabled']) for c in w['children'] if c.get('title')] == [(\"Don't Save\", 112, 24, True), ('Cancel', 82, 24, True), ('Save', 82, 24, True)])(j['desktop']['applications'][0]['windows'][0])"
json "the cursor and the trust" "j['desktop']['cursor']['x'] == 12 and j['desktop']['cursor']['y'] == 34 and j['desktop']['cursor']['shift'] and j['desktop']['accessibilityTrusted'] == False"

# --- demo: one suggestion per line -------------------------------------------------------
"$ctl" demo >"$tmp/out" 2>&1
[ "$(tail -4 "$tmp/out")" = "Try:
  velmora-ctl devices --all --json
  velmora-ctl version parse 2.2b3
  velmora-ctl --help" ] || { echo "FAIL demo suggestions: $(tail -4 "$tmp/out")"; fails=$((fails + 1)); }

[ $fails = 0 ] && echo "names and refusals: all passed" || echo "names and refusals: $fails failed"
exit $((fails > 0))
