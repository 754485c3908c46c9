#!/usr/bin/env bash
# velmora-sim move on a temporary world: input reports for a mouse read through the HID
# manager (X and Y of a report share a timestamp), mouse-moved events for an Apple mouse, the
# device-name forms, and the refusals with exit status 2.
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
run() {  # run NAME EXPECTED-STATUS -- ARGS...
  local name="$1" want="$2"
  shift 3
  "$sim" --world "$world" "$@" >"$tmp/out" 2>"$tmp/err"
  local status=$?
  [ "$status" = "$want" ] || { echo "FAIL $name: status $status (want $want): $(cat "$tmp/err")"; fail=1; }
}
events() {  # events PYTHON-EXPRESSION over the world's input events (as e)
  python3 - "$world/input.plist" "$1" <<'PY' || { echo "FAIL events: $2"; fail=1; }
import plistlib, sys
e = plistlib.load(open(sys.argv[1], 'rb'))['Events']
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
}

run init 0 -- init --fixtures "$profiles"
run attach 0 -- attach magic-mouse-2-bluetooth --fixtures "$profiles"

run move-usb 0 -- move 93a-2510-0-USB 5 -3 --count 3 --interval 0
grep -q "moved 93a-2510-0-USB by 5,-3 3 times (input reports)" "$tmp/out" || { echo "FAIL move-usb output: $(cat "$tmp/out")"; fail=1; }
events "len(e) == 3 and all(x['Device'] == e[0]['Device'] != 0 for x in e)"
events "all([(v['UsagePage'], v['Usage'], v['Value']) for v in x['Values']] == [(1, 48, 5), (1, 49, -3)] for x in e)"
events "all(x['Values'][0]['Time'] == x['Values'][1]['Time'] for x in e) and len({x['Values'][0]['Time'] for x in e}) == 3"

run move-apple 0 -- move "VID 0x004C PID 0x0269 MID - Bluetooth" -2 7
grep -q "(mouse-moved events)" "$tmp/out" || { echo "FAIL move-apple output: $(cat "$tmp/out")"; fail=1; }
events "e[-1]['Device'] == 0 and (e[-1]['DeltaX'], e[-1]['DeltaY']) == (-2, 7) and 'Values' not in e[-1]"
run move-colon-form 0 -- move "093a:2510:0 USB" 1 1

run unknown-device 2 -- move 93a-2510-0-US 1 1
grep -q "did you mean '93a-2510-0-USB'" "$tmp/err" || { echo "FAIL unknown-device hint: $(cat "$tmp/err")"; fail=1; }
run not-a-name 2 -- move mouse 1 1
run fraction 2 -- move 93a-2510-0-USB 1.5 1
run too-far 2 -- move 93a-2510-0-USB 40000 1
run comma 2 -- move 93a-2510-0-USB 1,5 1
run missing-dy 2 -- move 93a-2510-0-USB 1
run zero-count 2 -- move 93a-2510-0-USB 1 1 --count 0
run bad-interval 2 -- move 93a-2510-0-USB 1 1 --interval -1
run option-typo 2 -- move 93a-2510-0-USB 1 1 --cont 3
grep -q "did you mean '--count'" "$tmp/err" || { echo "FAIL option-typo hint: $(cat "$tmp/err")"; fail=1; }
events "len(e) == 5"
run help 0 -- move --help
grep -q "^usage: velmora-sim move ID DX DY" "$tmp/out" || { echo "FAIL help: $(head -1 "$tmp/out")"; fail=1; }
exit $fail
