#!/usr/bin/env bash
# velmora-ctl version and devices: outputs, exit statuses and help.
set -u
ctl="$1"
fail=0
check() {  # check NAME EXPECTED-STATUS EXPECTED-STDOUT -- ARGS...
  local name="$1" want_status="$2" want_out="$3"
  shift 4
  local out status
  out=$("$ctl" "$@" 2>/dev/null)
  status=$?
  if [ "$status" != "$want_status" ] || { [ -n "$want_out" ] && [ "$out" != "$want_out" ]; }; then
    echo "FAIL $name: status $status (want $want_status), output '$out' (want '$want_out')"
    fail=1
  fi
}
check parse-final 0 0x02238000 -- version parse 2.2.3
check parse-beta 0 0x02206003 -- version parse 2.2b3
check parse-two-digit-major 0 0x12118000 -- version parse 12.1.1
check parse-bad 1 "" -- version parse 2.10
check format-hex 0 2.2b3 -- version format 0x02206003
check format-decimal 0 10.0 -- version format 268468224
check format-bad 2 "" -- version format 0x1FFFFFFFF
check missing-arg 2 "" -- version parse
check unknown-sub 2 "" -- version frobnicate 1
check unknown-command 2 "" -- frobnicate
check tool-help 0 "" -- --help
for group in version devices demo; do check "help-$group" 0 "" -- "$group" --help; done

stderr=$("$ctl" version parse nope 2>&1 >/dev/null)
[ "$(printf '%s\n' "$stderr" | wc -l)" = 1 ] || { echo "FAIL parse error is not one line: $stderr"; fail=1; }

json=$("$ctl" devices --profile wacom-intuos-tablet --profile magic-mouse-2-bluetooth --json) || { echo "FAIL devices"; fail=1; }
echo "$json" | grep -q '"profile": "wacom-intuos-tablet".*"supported": false, "reason": "tablet vendor"' || { echo "FAIL wacom row: $json"; fail=1; }
echo "$json" | grep -q '"kind": "Magic Mouse", "gesture": true, "supported": true' || { echo "FAIL magic mouse row: $json"; fail=1; }
"$ctl" devices --profile no-such-device >/dev/null 2>&1 && { echo "FAIL missing profile accepted"; fail=1; }
"$ctl" demo | grep -q 'HIDPointerResolution = 600 dpi' || { echo "FAIL demo"; fail=1; }
exit $fail
